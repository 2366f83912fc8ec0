// In-process helpers for GUI tests under Xvfb: pump messages until idle,
// read controls, click list rows by message, catch dialogs and message
// boxes with a WH_CBT hook, and save screenshots of windows as PNG files
// under the build tree for people to look at.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "keyfold/framework/Handles.h"

namespace kftest {

// Dispatches messages until none arrived for quietMs, or maxMs passed.
void PumpUntilIdle(DWORD quietMs = 50, DWORD maxMs = 3000);

std::string WindowText(HWND hwnd);
std::string ClassName(HWND hwnd);
DWORD Style(HWND hwnd);
DWORD ExStyle(HWND hwnd);
// A window's rectangle in its parent's client coordinates.
RECT RectInParent(HWND hwnd);

// Rows of a list-view control, each with the text of every column.
std::vector<std::vector<std::string>> ListRows(HWND list);
int ListColumnCount(HWND list);
std::string ListColumnTitle(HWND list, int col);
std::vector<int> ListSelectedRows(HWND list);
// Presses and releases the left button over a row (column 0) or a client
// point, as the mouse would, and pumps until idle.
void ClickListRow(HWND list, int row);
void ClickListPoint(HWND list, POINT client);
// Types ANSI text into a control as character messages.
void TypeText(HWND hwnd, const std::string& text);

// Saves the window as build-tree/screenshots/<name>.png; returns the path
// (Windows form), empty on failure. The window is brought to the top
// first and captured from the screen as it is drawn.
std::string SaveWindowPng(HWND hwnd, const std::string& name);
std::string ScreenshotDir();

// A dialog resource as the module carries it (extended templates only):
// what the resource compiler made of the script, before the dialog
// manager or a control changes anything at run time. Texts are ANSI;
// an ordinal reads as "#<number>".
struct TemplateControl {
  DWORD style = 0;
  DWORD exStyle = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  int id = 0;
  std::string className;  // predefined classes come as "#128".."#133" or by name
  std::string text;
};
struct DialogTemplate {
  bool extended = false;
  DWORD style = 0;
  DWORD exStyle = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  std::string menu;
  std::string className;
  std::string caption;
  WORD pointSize = 0;  // only with DS_SETFONT
  std::string fontName;
  std::vector<TemplateControl> controls;
};
// False when the module has no such dialog or it is not an extended one.
bool ReadDialogTemplate(UINT id, DialogTemplate& out, HMODULE module = nullptr);
// Whether a template control's class is the predefined one named (Static,
// Edit, Button...), whichever way the resource compiler wrote it.
bool IsClass(const TemplateControl& control, const char* predefined);

// What a caught dialog showed when it became active.
struct CaughtControl {
  int id;
  std::string className;
  std::string text;
  DWORD style;
  RECT rect;  // in the dialog's client coordinates
};
struct CaughtDialog {
  std::string caption;
  std::string text;  // control 0xFFFF: a message box's text
  std::vector<CaughtControl> controls;
  // The focused control's id when each step ran (0: none).
  std::vector<int> focusIds;
  int defaultId = 0;
  // The dialog's base units (MapDialogRect of 4 by 8 dialog units).
  int baseUnitX = 0;
  int baseUnitY = 0;
  bool forced = false;  // still open after its answer: closed by the watchdog
  std::string screenshot;  // path when one was asked for
};

// How a caught dialog is answered, once it is shown and painted.
struct Answer {
  enum Kind { Button, Key } kind = Button;
  int value = IDOK;  // button id or virtual key
  static Answer PressButton(int id) { return {Button, id}; }
  static Answer PressKey(int vk) { return {Key, vk}; }
};

// One step of answering: an optional action on the open dialog (set a
// control's text, ...), then the answer. Steps are taken in order, each on
// the newest caught dialog that is still open (a message box over a dialog
// is answered before the dialog gets its next step).
struct Step {
  std::function<void(HWND dlg)> prepare;
  Answer answer;
};

// While alive, catches every dialog (class #32770, message boxes included)
// that becomes active on this thread, records it, optionally saves its
// screenshot, and answers it. A dialog that the answer did not close is
// closed after a few seconds and marked forced, so no test can hang.
class DialogCatcher {
 public:
  explicit DialogCatcher(Answer answer, std::string screenshotName = {});
  explicit DialogCatcher(std::vector<Step> steps, std::string screenshotName = {});
  DialogCatcher(const DialogCatcher&) = delete;
  DialogCatcher& operator=(const DialogCatcher&) = delete;
  ~DialogCatcher();

  const std::vector<CaughtDialog>& Caught() const { return m_caught; }

 private:
  static LRESULT CALLBACK CbtProc(int code, WPARAM wParam, LPARAM lParam);
  static void CALLBACK OnTimer(HWND hwnd, UINT, UINT_PTR id, DWORD);
  void Catch(HWND hwnd);
  void TakeStep(HWND hwnd, UINT_PTR id);

  kf::UniqueHook m_hook;
  std::vector<Step> m_steps;
  std::string m_screenshotName;
  std::vector<CaughtDialog> m_caught;
  std::vector<HWND> m_seen;
  size_t m_nextStep = 0;
};

}  // namespace kftest
