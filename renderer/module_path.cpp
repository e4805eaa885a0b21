#include "renderer/module_path.h"

#include <filesystem>
#include <vector>

#include "renderer/errors.h"

namespace tfrender {

std::string defaultModulePath() {
  namespace fs = std::filesystem;
  std::vector<fs::path> candidates;
  std::error_code error;
  const fs::path executable = fs::read_symlink("/proc/self/exe", error);
  if (!error) {
    const fs::path folder = executable.parent_path();
    candidates.push_back(folder / "TempoFlanger.so");
    candidates.push_back((folder / ".." / "lib" / "vst" / "TempoFlanger.so").lexically_normal());
  }
  candidates.emplace_back(TF_BUILD_TREE_MODULE);

  std::string looked;
  for (const fs::path& candidate : candidates) {
    if (fs::is_regular_file(candidate, error)) return candidate.string();
    looked += (looked.empty() ? "" : ", ") + candidate.string();
  }
  throw RenderError("no TempoFlanger.so found (looked for " + looked +
                    "); name the module with --plugin PATH");
}

}  // namespace tfrender
