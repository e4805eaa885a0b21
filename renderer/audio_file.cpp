#include "renderer/audio_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "renderer/errors.h"

namespace tfrender {
namespace {

namespace fs = std::filesystem;

// libsndfile's messages end in a full stop and may start with a category; ours are embedded in a
// sentence.
std::string reason(const char* text) {
  std::string result = text != nullptr ? text : "unknown error";
  const std::string system = "System error : ";
  if (result.rfind(system, 0) == 0) result.erase(0, system.size());
  while (!result.empty() && (result.back() == '.' || result.back() == ' '))
    result.pop_back();
  return result;
}

std::string subtypeName(int subtype) {
  switch (subtype) {
    case SF_FORMAT_PCM_S8:
      return "8-bit";
    case SF_FORMAT_PCM_U8:
      return "8-bit unsigned";
    case SF_FORMAT_PCM_16:
      return "16-bit";
    case SF_FORMAT_PCM_24:
      return "24-bit";
    case SF_FORMAT_PCM_32:
      return "32-bit";
    case SF_FORMAT_FLOAT:
      return "32-bit float";
    case SF_FORMAT_DOUBLE:
      return "64-bit float";
    case SF_FORMAT_VORBIS:
      return "Vorbis";
    case SF_FORMAT_ULAW:
      return "u-law";
    case SF_FORMAT_ALAW:
      return "A-law";
    case SF_FORMAT_IMA_ADPCM:
      return "IMA ADPCM";
    case SF_FORMAT_MS_ADPCM:
      return "MS ADPCM";
    default: {
      char text[32];
      std::snprintf(text, sizeof text, "subtype 0x%04x", static_cast<unsigned>(subtype));
      return text;
    }
  }
}

std::string majorName(int major) {
  switch (major) {
    case SF_FORMAT_WAV:
      return "WAV";
    case SF_FORMAT_AIFF:
      return "AIFF";
    case SF_FORMAT_FLAC:
      return "FLAC";
    case SF_FORMAT_OGG:
      return "Ogg";
    default: {
      SF_FORMAT_INFO info{};
      info.format = major;
      if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 &&
          info.name != nullptr) {
        return info.name;
      }
      return "audio";
    }
  }
}

bool writable(int format, int sampleRate) {
  SF_INFO info{};
  info.samplerate = sampleRate;
  info.channels = 2;
  info.format = format;
  return sf_format_check(&info) != 0;
}

}  // namespace

std::string describeFormat(int format) {
  return majorName(format & SF_FORMAT_TYPEMASK) + " " + subtypeName(format & SF_FORMAT_SUBMASK);
}

// ---------------------------------------------------------------------------------------------
// Input

InputFile::InputFile(const std::string& path, int32_t blockFrames) : path_(path) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (status.type() == fs::file_type::not_found) {
    throw RenderError("input '" + path + "' does not exist");
  }
  if (status.type() == fs::file_type::directory) {
    throw RenderError("input '" + path + "' is a folder, not an audio file");
  }
  file_ = sf_open(path.c_str(), SFM_READ, &info_);
  if (file_ == nullptr) {
    if (sf_error(nullptr) == SF_ERR_UNRECOGNISED_FORMAT) {
      throw RenderError("input '" + path +
                        "' is not in an audio format tempoflanger reads (WAV, AIFF, FLAC, Ogg, "
                        "and the others of libsndfile)");
    }
    throw RenderError("cannot read input '" + path + "': " + reason(sf_strerror(nullptr)));
  }
  if (info_.channels < 1 || info_.channels > 2) {
    const std::string channels = std::to_string(info_.channels);
    sf_close(file_);
    file_ = nullptr;
    throw RenderError("input '" + path + "' has " + channels +
                      " channels; tempoflanger takes mono or stereo files");
  }
  if (info_.samplerate <= 0) {
    sf_close(file_);
    file_ = nullptr;
    throw RenderError("input '" + path + "' has no valid sample rate");
  }
  interleaved_.resize(static_cast<std::size_t>(blockFrames) *
                      static_cast<std::size_t>(info_.channels));
}

InputFile::~InputFile() {
  if (file_ != nullptr) sf_close(file_);
}

int32_t InputFile::read(float* left, float* right, int32_t frames) {
  const int channels = info_.channels;
  frames = std::min<int32_t>(frames, static_cast<int32_t>(interleaved_.size() / channels));
  int32_t done = 0;
  while (done < frames) {
    const sf_count_t got = sf_readf_float(
        file_, interleaved_.data() + static_cast<std::size_t>(done) * channels, frames - done);
    if (got <= 0) break;
    done += static_cast<int32_t>(got);
  }
  if (done < frames && sf_error(file_) != SF_ERR_NO_ERROR) {
    throw RenderError("cannot read input '" + path_ + "': " + reason(sf_strerror(file_)));
  }
  const float* sample = interleaved_.data();
  for (int32_t i = 0; i < done; ++i) {
    left[i] = sample[0];
    right[i] = sample[channels - 1];
    sample += channels;
  }
  return done;
}

// ---------------------------------------------------------------------------------------------
// Output format

int outputMajorFormat(const std::string& path) {
  std::string extension = fs::path(path).extension().string();
  for (char& c : extension)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension == ".wav") return SF_FORMAT_WAV;
  if (extension == ".aiff" || extension == ".aif") return SF_FORMAT_AIFF;
  if (extension == ".flac") return SF_FORMAT_FLAC;
  if (extension == ".ogg") return SF_FORMAT_OGG;
  const std::string what = extension.empty() ? "has no file extension"
                                             : "has an unsupported file type '" + extension + "'";
  throw RenderError("output '" + path + "' " + what +
                    "; tempoflanger writes .wav, .aiff, .aif, .flac and .ogg");
}

OutputFormat chooseOutputFormat(const std::string& path, int inputFormat, bool forceFloat,
                                int sampleRate) {
  const int major = outputMajorFormat(path);
  int subtype = 0;
  if (major == SF_FORMAT_OGG) {
    if (forceFloat) throw RenderError("--float: Ogg files hold Vorbis, not float samples");
    subtype = SF_FORMAT_VORBIS;
  } else if (forceFloat) {
    if (major == SF_FORMAT_FLAC) {
      throw RenderError("--float: FLAC holds integer samples only; write .wav or .aiff instead");
    }
    subtype = SF_FORMAT_FLOAT;
  } else {
    // Without an input, or when the input's samples do not fit the output's file type: float,
    // which never clips, or 24-bit for FLAC, which holds nothing wider.
    const int fallback = major == SF_FORMAT_FLAC ? SF_FORMAT_PCM_24 : SF_FORMAT_FLOAT;
    const int input = inputFormat & SF_FORMAT_SUBMASK;
    subtype = fallback;
    if (input != 0) {
      // 8-bit samples are signed in AIFF and unsigned in WAV: the same resolution either way.
      const int twin = input == SF_FORMAT_PCM_U8   ? SF_FORMAT_PCM_S8
                       : input == SF_FORMAT_PCM_S8 ? SF_FORMAT_PCM_U8
                                                   : input;
      if (writable(major | input, sampleRate)) {
        subtype = input;
      } else if (writable(major | twin, sampleRate)) {
        subtype = twin;
      }
    }
  }
  OutputFormat format;
  format.format = major | subtype;
  format.description = describeFormat(format.format);
  format.clips =
      subtype != SF_FORMAT_FLOAT && subtype != SF_FORMAT_DOUBLE && subtype != SF_FORMAT_VORBIS;
  if (!writable(format.format, sampleRate)) {
    throw RenderError("output '" + path + "': libsndfile cannot write " + format.description +
                      " at " + std::to_string(sampleRate) + " Hz");
  }
  return format;
}

// ---------------------------------------------------------------------------------------------
// Output

OutputFile::OutputFile(const std::string& path, const OutputFormat& format, int sampleRate)
    : path_(path) {
  const fs::path target(path);
  std::error_code error;
  if (fs::is_directory(target, error)) {
    throw RenderError("cannot write output '" + path + "': it is a folder");
  }
  fs::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  std::string pattern = (folder / ("." + target.filename().string() + ".tmp-XXXXXX")).string();
  descriptor_ = mkstemp(pattern.data());
  if (descriptor_ < 0) {
    throw RenderError("cannot write output '" + path + "': " + std::strerror(errno));
  }
  temporary_ = pattern;
  // mkstemp creates the file for its owner only; give it the mode a new file would have.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(descriptor_, 0666 & ~mask);

  SF_INFO info{};
  info.samplerate = sampleRate;
  info.channels = 2;
  info.format = format.format;
  file_ = sf_open_fd(descriptor_, SFM_WRITE, &info, SF_FALSE);
  if (file_ == nullptr) {
    const std::string why = reason(sf_strerror(nullptr));
    discard();
    throw RenderError("cannot write output '" + path + "': " + why);
  }
  // Integer formats clip at full scale instead of wrapping around.
  sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  // No PEAK chunk in float files: it holds the time of writing, and the same render should give
  // the same file.
  sf_command(file_, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
}

OutputFile::~OutputFile() { discard(); }

void OutputFile::discard() noexcept {
  if (file_ != nullptr) sf_close(file_);
  file_ = nullptr;
  if (descriptor_ >= 0) close(descriptor_);
  descriptor_ = -1;
  if (!temporary_.empty()) unlink(temporary_.c_str());
  temporary_.clear();
}

void OutputFile::write(const float* interleaved, int32_t frames) {
  if (sf_writef_float(file_, interleaved, frames) != frames) {
    throw RenderError("cannot write output '" + path_ + "': " + reason(sf_strerror(file_)));
  }
}

void OutputFile::commit() {
  const int closed = sf_close(file_);
  file_ = nullptr;
  if (closed != 0) {
    throw RenderError("cannot write output '" + path_ + "': " + reason(sf_error_number(closed)));
  }
  // On disk before it replaces the target, so that a crash leaves the old file or the new one.
  const bool synced = fsync(descriptor_) == 0;
  const int syncError = errno;
  const bool closedFile = close(descriptor_) == 0;
  descriptor_ = -1;
  if (!synced || !closedFile) {
    throw RenderError("cannot write output '" + path_ +
                      "': " + std::strerror(!synced ? syncError : errno));
  }
  if (std::rename(temporary_.c_str(), path_.c_str()) != 0) {
    throw RenderError("cannot write output '" + path_ + "': " + std::strerror(errno));
  }
  temporary_.clear();
}

}  // namespace tfrender
