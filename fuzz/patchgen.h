// The structure-aware patch generator: turns a string of bytes, read as a list of choices, into
// a patch that looks like one a person writes (sections of real module types, Per lines,
// variables set to formulas over the outputs the patch has, channel suffixes), with the
// sub-patches and packages it uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct GeneratedFile {
  std::string sPath;  // below the installation folder, e.g. "package/GenA.1.0.0.vanpack"
  std::string sText;
};

struct GeneratedPatch {
  std::string sText;                // the patch itself
  std::vector<GeneratedFile> afile;  // the sub-patches and packages it names
};

// The same bytes give the same patch. Short inputs give small patches: every choice past the
// end of the bytes is the first one, which adds nothing.
GeneratedPatch GeneratePatch(const uint8_t* pData, size_t nSize);
