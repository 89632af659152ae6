// Small text helpers of the scenario language and its runner: numbers,
// bus:dev.fn locations, quoted arguments, printable quoting, formatting.
#ifndef LUMBREL_AGPVM_SCENARIO_TEXT_H
#define LUMBREL_AGPVM_SCENARIO_TEXT_H

#include <string>

// The whole of `text` as a number (base 0: decimal or 0x...); false, with
// `value` 0, when it is not one.
bool ParseNumber(const std::string& text, unsigned long& value, int base = 0);

// "BB:DD.F" in hex.
bool ParseLocation(const std::string& text, unsigned& bus, unsigned& dev, unsigned& fn);

// The tokenizer marks a quoted argument with a leading quote.
inline bool IsString(const std::string& arg) { return !arg.empty() && arg[0] == '"'; }
inline std::string StringOf(const std::string& arg) { return IsString(arg) ? arg.substr(1) : arg; }

// `text` in double quotes, with escapes for quotes, backslashes and every
// byte outside printable ASCII.
std::string Printable(const std::string& text);

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

#endif
