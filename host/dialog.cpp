// The configuration dialog: edits the program text and the clamp option of one
// instance record, and tests the program on a fixed pixel.
#include <windows.h>

#include "host/fpu_guard.h"
#include "host/glue.h"
#include "host/resource.h"

namespace vexlor {

// The dialog's user slot holds the record: index 8 on 32-bit Windows, after
// the two pointer-sized slots before it on x86-64.
static_assert(DWLP_USER == VEXLOR_AT(8, 16), "the dialog's user slot");

// Runs the edit box's current text once on the test pixel and shows the
// outcome. Neither the record nor the check box is read.
static void TestProgram(HWND dialog) {
  char text[kTextSize];
  text[0] = '\0';
  SendDlgItemMessageA(dialog, IDC_PROGRAM, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  std::string message;
  {
    FpuGuard fpu;
    message = TestMessage(text);
  }
  MessageBoxA(nullptr, message.c_str(), "Vexlor", MB_OK);
}

// Fills the controls from the record and keeps its address in the user slot.
static void LoadDialog(HWND dialog, FilterSettings* settings) {
  SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(settings));
  std::string text(SettingsText(*settings));
  SendDlgItemMessageA(dialog, IDC_PROGRAM, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  SendDlgItemMessageA(dialog, IDC_CLAMP, BM_SETCHECK, settings->clamp ? BST_CHECKED : BST_UNCHECKED,
                      0);
}

// Writes the controls back into the record: at most 2047 characters of text.
static void StoreDialog(HWND dialog) {
  auto* settings = reinterpret_cast<FilterSettings*>(GetWindowLongPtrA(dialog, DWLP_USER));
  SendDlgItemMessageA(dialog, IDC_PROGRAM, WM_GETTEXT, kTextSize,
                      reinterpret_cast<LPARAM>(settings->text));
  settings->clamp = SendDlgItemMessageA(dialog, IDC_CLAMP, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

INT_PTR CALLBACK ConfigDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    LoadDialog(dialog, reinterpret_cast<FilterSettings*>(lparam));
    return TRUE;
  }
  if (message != WM_COMMAND) return FALSE;
  if (wparam == IDC_TEST) TestProgram(dialog);
  switch (LOWORD(wparam)) {
    case IDOK:
      StoreDialog(dialog);
      EndDialog(dialog, 0);
      return TRUE;
    case IDCANCEL:
      EndDialog(dialog, 1);
      return FALSE;
  }
  return FALSE;
}

}  // namespace vexlor
