// Fuzz target for the look at an image file before libcdio reads it (ImageProbe, OpenCdioImage).
// The input is written to a private folder under a name that says nothing and as a cdrdao TOC,
// and each is opened as the player opens images, so that an NRG image the probe passes reaches
// libcdio's reader, which must neither crash nor allocate without bound. Beyond the sanitizers:
// the probe's verdict on the bytes is its verdict on the file; an NRG image it refuses is refused
// with its reason, whatever its name; what opens has a table of contents that can be read.
#include <cdio/cdio.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "Check.h"
#include "playback/DriveIo.h"
#include "playback/ImageProbe.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // As in the player, whose handler, unlike libcdio's own, lets its reader go on past its
  // failed internal checks.
  InstallCdioLogHandler();
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string why;
  const NrgVerdict verdict = CheckNrg(size, bytes, &why);
  Check(verdict != NrgVerdict::Unusable || !why.empty());
  // A folder of the input's own, gone when the input is done (libFuzzer runs no exit handlers).
  std::string folder = std::string(std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp") +
                       "/zarncd-fuzz-XXXXXX";
  Check(::mkdtemp(folder.data()) != nullptr);
  for (const std::string& path : {folder + "/image", folder + "/image.toc"}) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(size));
    why.clear();
    Check(CheckNrgFile(path, &why) == verdict);
    why.clear();
    CdIo_t* cdio = OpenCdioImage(path, &why);
    if (cdio) {
      (void)ReadCdioToc(cdio);
      cdio_destroy(cdio);
    } else {
      Check(!why.empty() && (verdict != NrgVerdict::Unusable ||
                             why.find("damaged NRG image") != std::string::npos));
    }
  }
  std::filesystem::remove_all(folder);
  return 0;
}
