// The renderer's own error: a one-line message for the user, naming the problem.
#pragma once

#include <stdexcept>

namespace tfrender {

class RenderError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace tfrender
