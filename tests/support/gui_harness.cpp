#include "support/gui_harness.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>

namespace kftest {

namespace {

constexpr UINT_PTR kAnswerTimer = 0x4B46;
constexpr UINT_PTR kWatchdogTimer = 0x4B47;
constexpr UINT kAnswerDelayMs = 150;
constexpr UINT kWatchdogMs = 4000;

thread_local DialogCatcher* t_pCatcher = nullptr;

std::string TextOf(HWND hwnd) {
  const int len = GetWindowTextLengthA(hwnd);
  if (len <= 0) return {};
  std::vector<char> buf(static_cast<size_t>(len) + 1, '\0');
  const int got = GetWindowTextA(hwnd, buf.data(), static_cast<int>(buf.size()));
  return std::string(buf.data(), got > 0 ? static_cast<size_t>(got) : 0);
}

// ---- PNG: 8-bit RGB, stored (uncompressed) deflate blocks ----

uint32_t Crc32(const uint8_t* data, size_t len, uint32_t crc = 0) {
  static const auto table = [] {
    std::vector<uint32_t> t(256);
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  crc = ~crc;
  for (size_t i = 0; i < len; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

void PutBE32(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v >> 24));
  out.push_back(static_cast<uint8_t>(v >> 16));
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

void PutChunk(std::vector<uint8_t>& png, const char type[4], const std::vector<uint8_t>& data) {
  PutBE32(png, static_cast<uint32_t>(data.size()));
  std::vector<uint8_t> body(type, type + 4);
  body.insert(body.end(), data.begin(), data.end());
  png.insert(png.end(), body.begin(), body.end());
  PutBE32(png, Crc32(body.data(), body.size()));
}

std::vector<uint8_t> EncodePng(int width, int height, const std::vector<uint8_t>& rgbRows) {
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> ihdr;
  PutBE32(ihdr, static_cast<uint32_t>(width));
  PutBE32(ihdr, static_cast<uint32_t>(height));
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter, no interlace
  PutChunk(png, "IHDR", ihdr);

  std::vector<uint8_t> z = {0x78, 0x01};
  uint32_t a = 1, b = 0;
  for (uint8_t byte : rgbRows) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  size_t pos = 0;
  do {
    const size_t n = std::min<size_t>(65535, rgbRows.size() - pos);
    const bool last = pos + n == rgbRows.size();
    z.push_back(last ? 1 : 0);
    z.push_back(static_cast<uint8_t>(n));
    z.push_back(static_cast<uint8_t>(n >> 8));
    z.push_back(static_cast<uint8_t>(~n));
    z.push_back(static_cast<uint8_t>(~n >> 8));
    z.insert(z.end(), rgbRows.begin() + static_cast<std::ptrdiff_t>(pos),
             rgbRows.begin() + static_cast<std::ptrdiff_t>(pos + n));
    pos += n;
  } while (pos < rgbRows.size());
  PutBE32(z, (b << 16) | a);
  PutChunk(png, "IDAT", z);
  PutChunk(png, "IEND", {});
  return png;
}

}  // namespace

void PumpUntilIdle(DWORD quietMs, DWORD maxMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    bool any = false;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      any = true;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    if (GetTickCount() - start >= maxMs) return;
    if (!any &&
        MsgWaitForMultipleObjects(0, nullptr, FALSE, quietMs, QS_ALLINPUT) == WAIT_TIMEOUT)
      return;
  }
}

std::string WindowText(HWND hwnd) { return TextOf(hwnd); }

std::string ClassName(HWND hwnd) {
  char name[256] = {};
  const int n = GetClassNameA(hwnd, name, sizeof(name));
  return std::string(name, n > 0 ? static_cast<size_t>(n) : 0);
}

DWORD Style(HWND hwnd) { return static_cast<DWORD>(GetWindowLongPtrA(hwnd, GWL_STYLE)); }
DWORD ExStyle(HWND hwnd) { return static_cast<DWORD>(GetWindowLongPtrA(hwnd, GWL_EXSTYLE)); }

RECT RectInParent(HWND hwnd) {
  RECT rc = {};
  GetWindowRect(hwnd, &rc);
  MapWindowPoints(nullptr, GetParent(hwnd), reinterpret_cast<POINT*>(&rc), 2);
  return rc;
}

static std::string ListText(HWND list, int row, int col) {
  std::vector<char> buf(4096, '\0');
  LVITEMA item = {};
  item.iSubItem = col;
  item.pszText = buf.data();
  item.cchTextMax = static_cast<int>(buf.size());
  const LRESULT n = SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row),
                                 reinterpret_cast<LPARAM>(&item));
  return std::string(buf.data(), static_cast<size_t>(std::clamp<LRESULT>(n, 0, 4095)));
}

int ListColumnCount(HWND list) {
  HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
  return header ? static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
}

std::string ListColumnTitle(HWND list, int col) {
  char buf[256] = {};
  LVCOLUMNA c = {};
  c.mask = LVCF_TEXT;
  c.pszText = buf;
  c.cchTextMax = sizeof(buf);
  if (!SendMessageA(list, LVM_GETCOLUMNA, static_cast<WPARAM>(col), reinterpret_cast<LPARAM>(&c)))
    return {};
  buf[sizeof(buf) - 1] = '\0';
  return buf;
}

std::vector<std::vector<std::string>> ListRows(HWND list) {
  std::vector<std::vector<std::string>> rows;
  const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
  const int cols = std::max(1, ListColumnCount(list));
  for (int r = 0; r < count; ++r) {
    std::vector<std::string> row;
    for (int c = 0; c < cols; ++c) row.push_back(ListText(list, r, c));
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<int> ListSelectedRows(HWND list) {
  std::vector<int> rows;
  int i = -1;
  while ((i = static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(i),
                                            LVNI_SELECTED))) >= 0)
    rows.push_back(i);
  return rows;
}

void ClickListPoint(HWND list, POINT pt) {
  const LPARAM pos = MAKELPARAM(pt.x, pt.y);
  SendMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, pos);
  SendMessageA(list, WM_LBUTTONUP, 0, pos);
  PumpUntilIdle();
}

void ClickListRow(HWND list, int row) {
  RECT rc = {};
  rc.left = LVIR_LABEL;
  SendMessageA(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&rc));
  ClickListPoint(list, POINT{rc.left + 4, (rc.top + rc.bottom) / 2});
}

void TypeText(HWND hwnd, const std::string& text) {
  // As the keyboard and input method deliver it: one character at a time.
  std::vector<wchar_t> wide(text.size() + 1, L'\0');
  const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                    wide.data(), static_cast<int>(wide.size()));
  for (int i = 0; i < n; ++i) SendMessageW(hwnd, WM_CHAR, wide[static_cast<size_t>(i)], 1);
  PumpUntilIdle();
}

std::string ScreenshotDir() {
  char path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  std::string dir(path, n);
  dir.erase(dir.find_last_of('\\') + 1);
  dir += "..\\screenshots";
  CreateDirectoryA(dir.c_str(), nullptr);
  return dir;
}

std::string SaveWindowPng(HWND hwnd, const std::string& name) {
  if (!IsWindow(hwnd)) return {};
  SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
  RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN |
                                            RDW_UPDATENOW);
  PumpUntilIdle(100, 1000);
  RECT rc = {};
  GetWindowRect(hwnd, &rc);
  const int w = rc.right - rc.left, h = rc.bottom - rc.top;
  if (w <= 0 || h <= 0) return {};

  kf::WindowDC screen(nullptr);
  kf::UniqueMemDC mem(CreateCompatibleDC(screen.get()));
  BITMAPINFO bi = {};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;  // top-down
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  kf::UniqueBitmap dib(CreateDIBSection(screen.get(), &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!screen || !mem || !dib || !bits) return {};
  {
    kf::SelectObjectScope sel(mem.get(), dib.get());
    if (!sel.ok() ||
        !BitBlt(mem.get(), 0, 0, w, h, screen.get(), rc.left, rc.top, SRCCOPY | CAPTUREBLT))
      return {};
    GdiFlush();
  }
  std::vector<uint8_t> rows;
  rows.reserve(static_cast<size_t>(h) * (1 + 3 * static_cast<size_t>(w)));
  const auto* px = static_cast<const uint8_t*>(bits);
  for (int y = 0; y < h; ++y) {
    rows.push_back(0);  // filter: none
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = px + (static_cast<size_t>(y) * w + x) * 4;
      rows.push_back(p[2]);
      rows.push_back(p[1]);
      rows.push_back(p[0]);
    }
  }
  const std::string dir = ScreenshotDir();
  if (dir.empty()) return {};
  const std::string path = dir + "\\" + name + ".png";
  const std::vector<uint8_t> png = EncodePng(w, h, rows);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
  return out.good() ? path : std::string();
}

// ---- dialog templates ----

namespace {

class TemplateReader {
 public:
  TemplateReader(const BYTE* base, size_t size) : m_base(base), m_p(base), m_end(base + size) {}
  bool ok() const { return m_ok; }
  WORD Word() {
    WORD w = 0;
    if (m_p + 2 > m_end) {
      m_ok = false;
      return 0;
    }
    std::memcpy(&w, m_p, 2);
    m_p += 2;
    return w;
  }
  DWORD Dword() {
    const WORD lo = Word();
    const WORD hi = Word();
    return MAKELONG(lo, hi);
  }
  short Short() { return static_cast<short>(Word()); }
  // A string, an ordinal ("#<number>") or nothing.
  std::string SzOrOrd() {
    const WORD first = Word();
    if (first == 0xFFFF) return "#" + std::to_string(Word());
    return Sz(first);
  }
  std::string Sz(WORD first) {
    std::wstring text;
    for (WORD c = first; c != 0 && m_ok; c = Word()) text += static_cast<wchar_t>(c);
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<size_t>(std::max(n, 0)), '\0');
    if (n > 0)
      WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), ansi.data(), n,
                          nullptr, nullptr);
    return ansi;
  }
  std::string Sz() { return Sz(Word()); }
  void AlignDword() {
    while ((m_p - m_base) % 4 && m_p < m_end) ++m_p;
  }
  void Skip(size_t n) {
    if (m_p + n > m_end) {
      m_ok = false;
      return;
    }
    m_p += n;
  }

 private:
  const BYTE* m_base;
  const BYTE* m_p;
  const BYTE* m_end;
  bool m_ok = true;
};

}  // namespace

bool ReadDialogTemplate(UINT id, DialogTemplate& out, HMODULE module) {
  out = DialogTemplate{};
  if (!module) module = GetModuleHandleA(nullptr);
  HRSRC res = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5) /* RT_DIALOG */);
  if (!res) return false;
  HGLOBAL loaded = LoadResource(module, res);
  const auto* base = static_cast<const BYTE*>(loaded ? LockResource(loaded) : nullptr);
  if (!base) return false;
  TemplateReader r(base, SizeofResource(module, res));
  if (r.Word() != 1 || r.Word() != 0xFFFF) return false;
  out.extended = true;
  r.Dword();  // help id
  out.exStyle = r.Dword();
  out.style = r.Dword();
  const WORD count = r.Word();
  out.x = r.Short();
  out.y = r.Short();
  out.cx = r.Short();
  out.cy = r.Short();
  out.menu = r.SzOrOrd();
  out.className = r.SzOrOrd();
  out.caption = r.Sz();
  if (out.style & (DS_SETFONT | DS_SHELLFONT)) {
    out.pointSize = r.Word();
    r.Word();  // weight
    r.Word();  // italic, character set
    out.fontName = r.Sz();
  }
  for (WORD i = 0; i < count && r.ok(); ++i) {
    r.AlignDword();
    TemplateControl c;
    r.Dword();  // help id
    c.exStyle = r.Dword();
    c.style = r.Dword();
    c.x = r.Short();
    c.y = r.Short();
    c.cx = r.Short();
    c.cy = r.Short();
    c.id = static_cast<int>(r.Dword());
    c.className = r.SzOrOrd();
    c.text = r.SzOrOrd();
    r.Skip(r.Word());  // creation data
    out.controls.push_back(std::move(c));
  }
  return r.ok();
}

bool IsClass(const TemplateControl& control, const char* predefined) {
  static const struct {
    const char* name;
    const char* ordinal;
  } kPredefined[] = {{"Button", "#128"},  {"Edit", "#129"},      {"Static", "#130"},
                     {"ListBox", "#131"}, {"ScrollBar", "#132"}, {"ComboBox", "#133"}};
  for (const auto& p : kPredefined)
    if (lstrcmpiA(p.name, predefined) == 0)
      return control.className == p.ordinal || lstrcmpiA(control.className.c_str(), p.name) == 0;
  return lstrcmpiA(control.className.c_str(), predefined) == 0;
}

// ---- DialogCatcher ----

DialogCatcher::DialogCatcher(Answer answer, std::string screenshotName)
    : DialogCatcher(std::vector<Step>{Step{nullptr, answer}}, std::move(screenshotName)) {}

DialogCatcher::DialogCatcher(std::vector<Step> steps, std::string screenshotName)
    : m_steps(std::move(steps)), m_screenshotName(std::move(screenshotName)) {
  t_pCatcher = this;
  m_hook.reset(SetWindowsHookExA(WH_CBT, CbtProc, nullptr, GetCurrentThreadId()));
}

DialogCatcher::~DialogCatcher() {
  m_hook.reset();
  if (t_pCatcher == this) t_pCatcher = nullptr;
}

LRESULT CALLBACK DialogCatcher::CbtProc(int code, WPARAM wParam, LPARAM lParam) {
  DialogCatcher* self = t_pCatcher;
  if (code == HCBT_ACTIVATE && self) {
    try {
      self->Catch(reinterpret_cast<HWND>(wParam));
    } catch (...) {
      // Not recorded: the test sees the dialog missing and fails.
    }
  }
  return self ? CallNextHookEx(self->m_hook.get(), code, wParam, lParam)
              : CallNextHookEx(nullptr, code, wParam, lParam);
}

void DialogCatcher::Catch(HWND hwnd) {
  if (ClassName(hwnd) == "#32770" &&
      std::find(m_seen.begin(), m_seen.end(), hwnd) == m_seen.end()) {
    m_seen.push_back(hwnd);
    CaughtDialog d;
    d.caption = TextOf(hwnd);
    d.text = TextOf(GetDlgItem(hwnd, 0xFFFF));
    for (HWND c = GetWindow(hwnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
      CaughtControl cc;
      cc.id = GetDlgCtrlID(c);
      cc.className = ClassName(c);
      cc.text = TextOf(c);
      cc.style = Style(c);
      cc.rect = RectInParent(c);
      d.controls.push_back(std::move(cc));
    }
    const LRESULT def = SendMessageA(hwnd, DM_GETDEFID, 0, 0);
    if (HIWORD(def) == DC_HASDEFID) d.defaultId = LOWORD(def);
    RECT units = {0, 0, 4, 8};
    if (MapDialogRect(hwnd, &units)) {
      d.baseUnitX = units.right;
      d.baseUnitY = units.bottom;
    }
    m_caught.push_back(std::move(d));
    // Answer once the dialog is shown, painted and in its modal loop.
    SetTimer(hwnd, kAnswerTimer, kAnswerDelayMs, OnTimer);
  }
}

void CALLBACK DialogCatcher::OnTimer(HWND hwnd, UINT, UINT_PTR id, DWORD) {
  KillTimer(hwnd, id);
  DialogCatcher* self = t_pCatcher;
  if (!self) return;
  try {
    self->TakeStep(hwnd, id);
  } catch (...) {
    // A failing step must not leave the dialog open for ever.
    EndDialog(hwnd, -3);
  }
}

void DialogCatcher::TakeStep(HWND hwnd, UINT_PTR id) {
  const auto it = std::find(m_seen.begin(), m_seen.end(), hwnd);
  if (it == m_seen.end()) return;
  CaughtDialog& d = m_caught[static_cast<size_t>(it - m_seen.begin())];
  if (id == kWatchdogTimer) {
    d.forced = true;
    EndDialog(hwnd, -2);
    return;
  }
  const size_t index = static_cast<size_t>(it - m_seen.begin());
  for (size_t later = index + 1; later < m_seen.size(); ++later) {
    if (IsWindow(m_seen[later])) {
      // A newer dialog is on top of this one; it is answered first.
      SetTimer(hwnd, kAnswerTimer, kAnswerDelayMs, OnTimer);
      return;
    }
  }
  const bool first = d.focusIds.empty();
  HWND focus = GetFocus();
  if (focus != hwnd && !IsChild(hwnd, focus)) focus = nullptr;
  d.focusIds.push_back(focus ? GetDlgCtrlID(focus) : 0);
  if (first && !m_screenshotName.empty()) {
    const std::string name = m_caught.size() > 1
                                 ? m_screenshotName + "_" + std::to_string(m_caught.size())
                                 : m_screenshotName;
    d.screenshot = SaveWindowPng(hwnd, name);
  }
  if (m_nextStep >= m_steps.size()) {
    SetTimer(hwnd, kWatchdogTimer, kWatchdogMs, OnTimer);
    return;
  }
  const size_t step = m_nextStep++;
  const Step& s = m_steps[step];
  if (s.prepare) s.prepare(hwnd);
  const Answer a = s.answer;
  if (a.kind == Answer::Button) {
    PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(a.value, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(hwnd, a.value)));
  } else {
    // To the focused control, as the keyboard would; the dialog's loop
    // turns Enter and Escape into its default button and Cancel.
    HWND target = focus ? focus : hwnd;
    PostMessageA(target, WM_KEYDOWN, static_cast<WPARAM>(a.value), 1);
    PostMessageA(target, WM_KEYUP, static_cast<WPARAM>(a.value), static_cast<LPARAM>(0xC0000001u));
  }
  // Still open after the answer had its time: the next step, or the end.
  if (step + 1 < m_steps.size())
    SetTimer(hwnd, kAnswerTimer, kAnswerDelayMs, OnTimer);
  else
    SetTimer(hwnd, kWatchdogTimer, kWatchdogMs, OnTimer);
}

}  // namespace kftest
