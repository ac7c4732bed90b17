// Whether a locale's name says its text is UTF-8, as the environment
// variables give it.
#ifndef VEXMO_COMMON_LOCALE_NAME_H
#define VEXMO_COMMON_LOCALE_NAME_H

namespace vexmo {

// The first of LC_ALL, LC_CTYPE and LANG that is set and not empty decides,
// as the C library has it; nullptr for a variable that is not set. UTF-8
// where its character set is UTF-8 however spelt (en_US.UTF-8, C.utf8).
inline bool utf8_locale(const char* lc_all, const char* lc_ctype, const char* lang) {
  const char* name = "";
  for (const char* candidate : {lc_all, lc_ctype, lang}) {
    if (candidate != nullptr && candidate[0] != '\0') {
      name = candidate;
      break;
    }
  }
  // "utf8" among the letters and digits of the name, case aside.
  const char* want = "utf8";
  for (const char* p = name; *p != '\0'; ++p) {
    const char* w = want;
    for (const char* q = p; *w != '\0' && *q != '\0'; ++q) {
      const char c = (*q >= 'A' && *q <= 'Z') ? static_cast<char>(*q - 'A' + 'a') : *q;
      if (c == '-' || c == '_') {
        continue;
      }
      if (c != *w) {
        break;
      }
      ++w;
    }
    if (*w == '\0') {
      return true;
    }
  }
  return false;
}

}  // namespace vexmo

#endif  // VEXMO_COMMON_LOCALE_NAME_H
