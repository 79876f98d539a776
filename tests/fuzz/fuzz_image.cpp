// The input opened as an image, so that an NRG image the probe passes reaches libcdio's reader,
// which must neither crash nor allocate without bound.
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
  // Unlike libcdio's own, the player's handler lets the reader go on past its failed checks.
  InstallCdioLogHandler();
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string why;
  const NrgVerdict verdict = CheckNrg(size, bytes, &why);
  Check(verdict != NrgVerdict::Unusable || !why.empty());
  // libFuzzer runs no exit handlers.
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
