#include "run/long_path.h"

#include <array>

namespace syncstatus {

namespace {

bool is_separator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

bool is_letter(wchar_t c) {
  return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

bool equal_ignoring_case(std::wstring_view text, std::wstring_view upper) {
  if (text.size() != upper.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const wchar_t c = text[i];
    const wchar_t u = (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
    if (u != upper[i]) return false;
  }
  return true;
}

// Win32 takes these names to mean the device in any folder and with any
// extension; the extended form would open a file of that name instead.
bool is_device_name(std::wstring_view name) {
  name = name.substr(0, name.find_first_of(L".:"));
  while (!name.empty() && name.back() == L' ') name.remove_suffix(1);
  static constexpr std::array<std::wstring_view, 6> kNames = {L"CON", L"PRN",    L"AUX",
                                                              L"NUL", L"CONIN$", L"CONOUT$"};
  for (const std::wstring_view device : kNames) {
    if (equal_ignoring_case(name, device)) return true;
  }
  if (name.size() != 4 || name[3] < L'1' || name[3] > L'9') return false;
  return equal_ignoring_case(name.substr(0, 3), L"COM") ||
         equal_ignoring_case(name.substr(0, 3), L"LPT");
}

std::wstring_view last_component(std::wstring_view path) {
  const std::size_t separator = path.find_last_of(L"\\/");
  return separator == std::wstring_view::npos ? path : path.substr(separator + 1);
}

// Win32 resolves `.` and `..`; the extended form takes them as names.
bool has_dot_component(std::wstring_view path) {
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find_first_of(L"\\/", start);
    if (end == std::wstring_view::npos) end = path.size();
    const std::wstring_view component = path.substr(start, end - start);
    if (component == L"." || component == L"..") return true;
    start = end + 1;
  }
  return false;
}

std::wstring with_backslashes(std::wstring_view prefix, std::wstring_view path) {
  std::wstring result(prefix);
  result.reserve(prefix.size() + path.size());
  for (const wchar_t c : path) result += c == L'/' ? L'\\' : c;
  return result;
}

}  // namespace

bool is_device_or_verbatim(std::wstring_view path) {
  if (path.starts_with(L"\\??\\")) return true;
  return path.size() >= 3 && is_separator(path[0]) && is_separator(path[1]) &&
         (path[2] == L'?' || path[2] == L'.') && (path.size() == 3 || is_separator(path[3]));
}

std::wstring long_path_form(std::wstring_view full_path) {
  const std::wstring_view p = full_path;
  if (p.size() < kMaxPath || is_device_or_verbatim(p) || is_device_name(last_component(p)) ||
      has_dot_component(p)) {
    return std::wstring(p);
  }
  if (is_letter(p[0]) && p[1] == L':' && is_separator(p[2])) {
    return with_backslashes(L"\\\\?\\", p);
  }
  if (is_separator(p[0]) && is_separator(p[1]) && !is_separator(p[2])) {
    return with_backslashes(L"\\\\?\\UNC\\", p.substr(2));
  }
  return std::wstring(p);
}

}  // namespace syncstatus
