#pragma once
// A strict JSON syntax check for what the bridge hands the page: one value,
// nothing after it, strings without raw control characters.
#include <string_view>

namespace pmrfuzz {

class JsonCheck {
 public:
  static bool Valid(std::string_view text) {
    JsonCheck c(text);
    c.Space();
    if (!c.Value(0)) return false;
    c.Space();
    return c.i_ == text.size();
  }

 private:
  explicit JsonCheck(std::string_view t) : t_(t) {}
  bool More() const { return i_ < t_.size(); }
  char Peek() const { return More() ? t_[i_] : '\0'; }
  void Space() {
    while (More() && (t_[i_] == ' ' || t_[i_] == '\t' || t_[i_] == '\n' || t_[i_] == '\r')) ++i_;
  }
  bool Eat(char c) {
    if (Peek() != c) return false;
    ++i_;
    return true;
  }
  bool Word(std::string_view w) {
    if (t_.substr(i_, w.size()) != w) return false;
    i_ += w.size();
    return true;
  }
  bool Digits() {
    size_t start = i_;
    while (More() && t_[i_] >= '0' && t_[i_] <= '9') ++i_;
    return i_ > start;
  }
  bool Number() {
    Eat('-');
    if (Eat('0')) {
      if (Peek() >= '0' && Peek() <= '9') return false;
    } else if (!Digits()) {
      return false;
    }
    if (Eat('.') && !Digits()) return false;
    if (Peek() == 'e' || Peek() == 'E') {
      ++i_;
      if (!Eat('+')) Eat('-');
      if (!Digits()) return false;
    }
    return true;
  }
  bool String() {
    if (!Eat('"')) return false;
    while (More()) {
      unsigned char c = static_cast<unsigned char>(t_[i_++]);
      if (c == '"') return true;
      if (c < 0x20) return false;
      if (c != '\\') continue;
      if (!More()) return false;
      char e = t_[i_++];
      if (e == 'u') {
        for (int k = 0; k < 4; ++k) {
          char h = Peek();
          bool hex = (h >= '0' && h <= '9') || (h >= 'a' && h <= 'f') || (h >= 'A' && h <= 'F');
          if (!hex) return false;
          ++i_;
        }
      } else if (std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos) {
        return false;
      }
    }
    return false;
  }
  bool Value(int depth) {
    if (depth > 64) return false;
    Space();
    switch (Peek()) {
      case '{': {
        ++i_;
        Space();
        if (Eat('}')) return true;
        do {
          Space();
          if (!String()) return false;
          Space();
          if (!Eat(':') || !Value(depth + 1)) return false;
          Space();
        } while (Eat(','));
        return Eat('}');
      }
      case '[': {
        ++i_;
        Space();
        if (Eat(']')) return true;
        do {
          if (!Value(depth + 1)) return false;
          Space();
        } while (Eat(','));
        return Eat(']');
      }
      case '"': return String();
      case 't': return Word("true");
      case 'f': return Word("false");
      case 'n': return Word("null");
      default: return Number();
    }
  }

  std::string_view t_;
  size_t i_ = 0;
};

}  // namespace pmrfuzz
