// The hand-over record and the receiver's extension rules.
#include "ide/handover.h"

#include <filesystem>

namespace {

void PutU32(std::vector<unsigned char>& ab, uint32_t u) {
  for (int i = 0; i < 4; ++i) ab.push_back(static_cast<unsigned char>(u >> (8 * i)));
}

uint32_t GetU32(const unsigned char* pb) {
  return pb[0] | static_cast<uint32_t>(pb[1]) << 8 | static_cast<uint32_t>(pb[2]) << 16 |
         static_cast<uint32_t>(pb[3]) << 24;
}

}  // namespace

std::vector<unsigned char> EncodeHandOver(uint32_t uType, const std::string& sText) {
  std::vector<unsigned char> ab;
  PutU32(ab, uType);
  PutU32(ab, static_cast<uint32_t>(sText.size() + 1));
  ab.insert(ab.end(), sText.begin(), sText.end());
  ab.push_back(0);
  return ab;
}

HandOverParse DecodeHandOver(const std::vector<unsigned char>& ab, uint32_t* puType, std::string* psText) {
  if (ab.size() < 8) return HandOverParse::Incomplete;
  uint32_t uType = GetU32(ab.data()), nLength = GetU32(ab.data() + 4);
  if (nLength == 0 || nLength > kHandOverMaxBytes) return HandOverParse::Bad;
  if (ab.size() < 8 + static_cast<size_t>(nLength)) return HandOverParse::Incomplete;
  if (ab.size() > 8 + static_cast<size_t>(nLength) || ab[8 + nLength - 1] != 0) return HandOverParse::Bad;
  *puType = uType;
  // The text ends at its first zero, as a C string would.
  psText->assign(reinterpret_cast<const char*>(ab.data() + 8));
  return HandOverParse::Complete;
}

HandOverAction ClassifyHandOver(uint32_t uType, const std::string& sText) {
  if (uType != kHandOverCommandLine) return HandOverAction::UnexpectedType;
  size_t iDot = sText.rfind('.');
  if (iDot == std::string::npos) return HandOverAction::Ignore;
  std::string sExtension = sText.substr(iDot + 1);
  if (sExtension == "vantrel" || sExtension == "vantrel\"") return HandOverAction::LoadPatch;
  if (sExtension == "vanpack" || sExtension == "vanpack\"") return HandOverAction::OpenPackage;
  return HandOverAction::Ignore;
}

std::string HandOverCommandLine(const std::string& sArgument) {
  if (sArgument.empty()) return "";
  std::string sPath = sArgument;
  if (sPath.size() >= 2 && sPath.front() == '"' && sPath.back() == '"') sPath = sPath.substr(1, sPath.size() - 2);
  std::error_code ec;
  std::filesystem::path path = std::filesystem::absolute(sPath, ec);
  if (!ec) sPath = path.lexically_normal().string();
  return sPath.find(' ') != std::string::npos ? "\"" + sPath + "\"" : sPath;
}
