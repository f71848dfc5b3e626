// What the patch editor decides from text alone: text equality for the saved and compiled states,
// line kinds and their styles, status texts and tab icons, the text written by a save, history
// names, the stretch of a formula error within its line, and the module type of a section.
#pragma once

#include <ctime>
#include <string>
#include <vector>

// Compile states of a page.
constexpr int kCompiledOk = 0;
constexpr int kCompiledErrors = 1;
constexpr int kEditedSinceCompile = 2;

// The eight tab icons, in this order: patch compiled OK saved / not saved, with errors saved /
// not saved, edited since compile saved / not saved, package saved / not saved.
constexpr int kNumTabIcons = 8;
int PatchTabIcon(bool bPatch, int iCompileState, bool bNotSaved);
// "NOT SAVED! ... compiled OK" and the like: the page's status line.
std::string PatchStatusText(bool bPatch, int iCompileState, bool bNotSaved);

// Two texts are the same when they agree character by character, except that any run of control
// characters (line ends of any form, tabs) in one may face any run of them in the other.
bool PatchTextSame(const std::string& sA, const std::string& sB);

enum class PatchLineKind { Comment, Header, Other };
// Decided by the first character after leading white space: "#" or ";" comment, "[" header.
PatchLineKind PatchLineKindOf(const std::string& sLine);

// How a line is drawn: the fixed-pitch text face or the heavy header face, size in twips
// (1/20 point), boldness and colour.
struct PatchLineStyle {
  bool bHeaderFace;
  int iTwips;
  bool bBold;
  int iRed, iGreen, iBlue;
};
PatchLineStyle PatchLineStyleOf(PatchLineKind kind, bool bError);

// The text a save writes: carriage returns and vertical tabs become line feeds; each vertical
// tab is logged at Warn with the code of the character after it.
std::string PatchTextForSave(const std::string& sText);

// The title of a page: the file name without folders, cut at its last "." and to 255 characters.
std::string PatchFileTitle(const std::string& sPath);

// The edit-history copy of a patch applied at a local time, in the history folder
// (INSTALL/patch/edit_history unless the installation is read-only): DIR/NAME-YYYYMMDD-HHMMSS.EXT.
enum class HistoryRefusal { None, NoExtension, HistoryFile, NoFolder };
HistoryRefusal PatchHistoryPath(const std::string& sHistoryDir, const std::string& sPath, const struct tm& tmLocal,
                                std::string* psHistory);

// A formula error's message ends "(BEFORE >>> STRETCH <<< AFTER)". Finds the stretch in the text
// of the error's line: its first column and length. False when the message has no stretch or the
// line does not hold the formula.
bool PatchErrorStretch(const std::string& sMessage, const std::string& sLine, int* piColumn, int* piLength);

// The lines of a text, split at line feeds (a carriage return before one is dropped).
std::vector<std::string> PatchTextLines(const std::string& sText);

// The module type of the section that holds line iLine (from 0): the section's "ModuleType"
// when it names a registered type, else the first type whose name begins the section name, as
// the compiler decides. "" outside a section or when no type fits.
std::string PatchSectionType(const std::string& sText, int iLine);

// What completion offers at a place in a line: module type names after "ModuleType =", the
// variables of the section's module type at the start of a line inside a section.
struct PatchCompletion {
  std::string sPrefix;              // the word being typed, up to the caret
  std::vector<std::string> asWord;  // the candidates that begin with it, in the factory's order
};
PatchCompletion PatchCompletionAt(const std::string& sText, int iLine, int iColumn);
// The reference line of a variable of a module type (kind, class cap and default formula), as
// the modules listing shows it; "" when the type has no such variable.
std::string PatchVariableHelp(const std::string& sType, const std::string& sVariable);
