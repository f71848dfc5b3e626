// What the application and the main window ask of the windows other types provide: the patch
// editor and the oscilloscope implement these beside KSWin, and are found by their type names.
#pragma once

class KSWinFactory;

constexpr const char* kTypeMain = "VantrelIDE";
constexpr const char* kTypeEditor = "Patch Editor";
constexpr const char* kTypeOscilloscope = "Oscilloscope";
constexpr const char* kTypePerformance = "Performance Input";
constexpr const char* kTypeBrowser = "PatchBrowser";
constexpr const char* kTypeHelp = "Help";

class PatchEditorApi {
 public:
  virtual ~PatchEditorApi() = default;
  // False when the user refuses to give up unsaved text (the save question was cancelled).
  virtual bool QuerySave() = 0;
  virtual void ClearErrorMarks() = 0;
  virtual void MarkErrorLine(int iLine) = 0;
  virtual void GoToLine(int iLine) = 0;
  virtual void ShowPatch(int iChannel, const char* pszPath, const char* pszText) = 0;
  virtual void SetCompileErrors(int iChannel) = 0;
  virtual void OpenPackage(const char* pszPath) = 0;
};

class OscilloscopeApi {
 public:
  virtual ~OscilloscopeApi() = default;
  virtual void ResetDisplay() = 0;
};

// The reference manual's window: shows the page of a module type (by its type name) or a topic.
class HelpApi {
 public:
  virtual ~HelpApi() = default;
  // False when there is no page for the topic (the window then shows the manual's index).
  virtual bool ShowTopic(const char* pszTopic) = 0;
};

// The open editor, or null.
PatchEditorApi* FindEditor(KSWinFactory& factory);
// The help window, opened when none is open; null when the application has no help window type.
HelpApi* OpenHelp(KSWinFactory& factory);
