#pragma once
// The About box's own texts, shared by the Qt box and the Windows one.

namespace vestrel::about_texts {

inline constexpr char kMailAddress[] = "vestrel@example.org";
inline constexpr char kSiteUrl[] = "https://vestrel.example.org";
inline constexpr char kCopyright[] = "\xA9 2026 Vestrel developers";  // © in Windows-1251

}  // namespace vestrel::about_texts
