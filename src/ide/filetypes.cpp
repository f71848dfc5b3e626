// Desktop entry and MIME types, written only when they changed.
#include "ide/filetypes.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "foundation/akstatus.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

// A desktop entry's Exec argument: quoted, with the characters the entry format reserves
// escaped, then the backslashes doubled once more for the string value.
std::string ExecArgument(const std::string& s) {
  std::string sQuoted = "\"";
  for (char c : s) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') sQuoted += '\\';
    sQuoted += c;
  }
  sQuoted += '"';
  std::string sValue;
  for (char c : sQuoted) {
    if (c == '\\') sValue += '\\';
    sValue += c;
  }
  return sValue;
}

std::string ReadFile(const fs::path& path, bool* pbExists) {
  std::ifstream in(path, std::ios::binary);
  *pbExists = static_cast<bool>(in);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool WriteFile(const fs::path& path, const std::string& s) {
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  fs::path pathTemp = path;
  pathTemp += ".new";
  {
    std::ofstream out(pathTemp, std::ios::binary | std::ios::trunc);
    if (!out || !out.write(s.data(), static_cast<std::streamsize>(s.size())) || !out.flush()) return false;
  }
  fs::rename(pathTemp, path, ec);  // replaced whole, so a reader never sees half a file
  return !ec;
}

// Runs a tool found on the PATH with its output discarded; false when it is not there.
bool RunTool(const std::vector<std::string>& asArgs) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> apsz;
  for (const std::string& s : asArgs) apsz.push_back(const_cast<char*>(s.c_str()));
  apsz.push_back(nullptr);
  pid_t pid;
  int iSpawn = posix_spawnp(&pid, apsz[0], &actions, nullptr, apsz.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (iSpawn != 0) return false;
  int iStatus = 0;
  while (waitpid(pid, &iStatus, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(iStatus) || WEXITSTATUS(iStatus) != 0)
    AKS(AKSWarn, AK_HERE, "%s failed with status %d", asArgs[0].c_str(), iStatus);
  return true;
}

// True when a system data folder ($XDG_DATA_DIRS, by default /usr/local/share and /usr/share)
// holds the file with this content already, as after installing the package.
bool InSystemDataDirs(const FileTypeFile& file) {
  const char* psz = getenv("XDG_DATA_DIRS");
  std::string sDirs = psz && *psz ? psz : "/usr/local/share:/usr/share";
  std::stringstream ss(sDirs);
  std::string sDir;
  while (std::getline(ss, sDir, ':')) {
    if (sDir.empty() || sDir[0] != '/') continue;
    bool bExists = false;
    if (ReadFile(fs::path(sDir) / file.sPath, &bExists) == file.sContent && bExists) return true;
  }
  return false;
}

}  // namespace

std::vector<FileTypeFile> FileTypeFiles(const std::string& sInstallDir) {
  std::string sExe = (fs::path(sInstallDir) / "bin" / "vantrel-ide").lexically_normal().string();
  std::string sDesktop =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=Vantrel IDE\n"
      "GenericName=Software Synthesizer\n"
      "Comment=Write, play and inspect Vantrel synthesizer patches\n"
      "Exec=" + ExecArgument(sExe) + " %f\n"
      "Icon=vantrel\n"
      "MimeType=text/x-vantrel;text/x-vanpack;\n"
      "Terminal=false\n"
      "Categories=AudioVideo;Audio;Midi;\n";
  std::string sMime =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
      "  <mime-type type=\"text/x-vantrel\">\n"
      "    <comment>Vantrel patch</comment>\n"
      "    <sub-class-of type=\"text/plain\"/>\n"
      "    <glob pattern=\"*.vantrel\"/>\n"
      "  </mime-type>\n"
      "  <mime-type type=\"text/x-vanpack\">\n"
      "    <comment>Vantrel package</comment>\n"
      "    <sub-class-of type=\"text/plain\"/>\n"
      "    <glob pattern=\"*.vanpack\"/>\n"
      "  </mime-type>\n"
      "</mime-info>\n";
  // The program's icon: a waveform above a baseline, on a dark tile.
  std::string sIcon =
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"64\" height=\"64\" viewBox=\"0 0 64 64\">\n"
      "  <rect x=\"2\" y=\"2\" width=\"60\" height=\"60\" rx=\"12\" fill=\"#20303f\"/>\n"
      "  <path d=\"M8 40 L20 40 L26 18 L38 46 L44 24 L50 34 L56 34\" fill=\"none\" stroke=\"#f2a93b\"\n"
      "        stroke-width=\"4\" stroke-linejoin=\"round\" stroke-linecap=\"round\"/>\n"
      "  <path d=\"M8 52 L56 52\" stroke=\"#5fb3d9\" stroke-width=\"3\" stroke-linecap=\"round\"/>\n"
      "</svg>\n";
  return {{"applications/vantrel-ide.desktop", sDesktop},
          {"mime/packages/vantrel.xml", sMime},
          {"icons/hicolor/scalable/apps/vantrel.svg", sIcon}};
}

std::string UserDataHome() {
  const char* psz = getenv("XDG_DATA_HOME");
  if (psz && *psz == '/') return psz;
  psz = getenv("HOME");
  return psz && *psz ? std::string(psz) + "/.local/share" : "";
}

int RegisterFileTypes(const std::string& sDataHome, const std::string& sInstallDir) {
  if (sDataHome.empty()) return 0;
  int nWritten = 0;
  bool bMime = false, bDesktop = false;
  for (const FileTypeFile& file : FileTypeFiles(sInstallDir)) {
    fs::path path = fs::path(sDataHome) / file.sPath;
    bool bExists = false;
    if (ReadFile(path, &bExists) == file.sContent) continue;
    // The package registered this installation for every user; a copy at home would only
    // outlive the package.
    if (!bExists && InSystemDataDirs(file)) continue;
    if (!WriteFile(path, file.sContent)) {
      // A home folder that cannot be written costs the file association, not the program.
      AKS(AKSWarn, AK_HERE, "cannot write file type entry %s: %s", path.c_str(), strerror(errno));
      return -1;
    }
    if (!bExists) AKS(AKSStatus, AK_HERE, "file type entry %s: created", path.c_str());
    AKS(AKSTrace, AK_HERE, "file type entry %s: set", path.c_str());
    ++nWritten;
    (file.sPath.rfind("mime/", 0) == 0 ? bMime : bDesktop) = true;
  }
  // The desktop's notice that file associations changed.
  if (bMime) RunTool({"update-mime-database", (fs::path(sDataHome) / "mime").string()});
  if (bDesktop) RunTool({"update-desktop-database", (fs::path(sDataHome) / "applications").string()});
  return nWritten;
}
