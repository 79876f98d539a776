// Fuzz target for the look at an image file before libcdio reads it (src/playback/ImageProbe.cpp,
// OpenCdioImage in src/playback/DriveIo.cpp).
//
// Input: a whole image file. It is written twice to a private folder, once under a name that says
// nothing and once as a cdrdao TOC, and each is opened as the player opens images: an NRG image
// that the probe passes goes on to libcdio, whose reader must then neither crash nor allocate
// without bound. Checks, beyond the sanitizers:
//  - the probe's verdict on the file's bytes in memory is its verdict on the file;
//  - an NRG image the probe refuses is refused with its reason, whatever its name;
//  - what opens has a table of contents that can be read.
#include <cdio/cdio.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "Check.h"
#include "playback/DriveIo.h"
#include "playback/ImageProbe.h"

namespace {

// A folder of the input's own, gone when the input is done: libFuzzer ends without running
// exit handlers.
struct Folder {
  Folder() { Check(::mkdtemp(path.data()) != nullptr); }
  ~Folder() { std::filesystem::remove_all(path); }
  std::string path = std::string(std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp") +
                     "/zarncd-fuzz-XXXXXX";
};

void Open(const std::string& path, std::string_view bytes, NrgVerdict verdict) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  std::string why;
  Check(CheckNrgFile(path, &why) == verdict);
  why.clear();
  CdIo_t* cdio = OpenCdioImage(path, &why);
  if (!cdio) {
    Check(!why.empty() &&
          (verdict != NrgVerdict::Unusable || why.find("damaged NRG image") != std::string::npos));
    return;
  }
  (void)ReadCdioToc(cdio);
  cdio_destroy(cdio);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // As in the player, whose handler, unlike libcdio's own, lets its reader go on past its
  // failed internal checks.
  InstallCdioLogHandler();
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string why;
  const NrgVerdict verdict = CheckNrg(size, bytes, &why);
  Check(verdict != NrgVerdict::Unusable || !why.empty());
  const Folder folder;
  Open(folder.path + "/image", bytes, verdict);
  Open(folder.path + "/image.toc", bytes, verdict);
  return 0;
}
