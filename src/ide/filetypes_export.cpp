// Writes the desktop entry, MIME types and icon of an installation folder into a share folder,
// for the package to install into the system's: the same files the program writes per user.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "ide/filetypes.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: vantrel-filetypes INSTALL_DIR SHARE_DIR\n");
    return 2;
  }
  for (const FileTypeFile& file : FileTypeFiles(argv[1])) {
    std::filesystem::path path = std::filesystem::path(argv[2]) / file.sPath;
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out.write(file.sContent.data(), static_cast<std::streamsize>(file.sContent.size())) || !out.flush()) {
      fprintf(stderr, "vantrel-filetypes: cannot write %s\n", path.c_str());
      return 2;
    }
  }
  return 0;
}
