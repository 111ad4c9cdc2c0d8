// Text from outside made safe for a line: what a hostile or broken name,
// reason or server answer becomes.
#include "platform/safe_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;
using vorne::SafeText;

struct Case {
  std::string in;
  std::string out;
};

TEST(SafeText, EscapesWhatCouldForgeALineOrReachATerminalAndKeepsTheRest) {
  const Case cases[] = {
      {"", ""},
      {"/dev/serial/by-id/usb-FTDI_FT232R-if00 9600,n,8,1",
       "/dev/serial/by-id/usb-FTDI_FT232R-if00 9600,n,8,1"},
      {"a\nCOM1 close", "a\\x0ACOM1 close"},
      {"\r\t\x1b[31m\x7F", "\\x0D\\x09\\x1B[31m\\x7F"},
      {"a\0b"s, "a\\x00b"},
      // A backslash that would start an escape is escaped itself; a
      // Windows device name keeps its own.
      {"\\\\.\\COM2 \\x0A", "\\\\.\\COM2 \\x5Cx0A"},
      // Valid UTF-8 stays, a C1 control (CSI, NEL) does not.
      {"Kamera S\xC3\xBC"
       "d \xE6\x97\xA5 \xF0\x9F\x98\x80 \xC2\xA0",
       "Kamera S\xC3\xBC"
       "d \xE6\x97\xA5 \xF0\x9F\x98\x80 \xC2\xA0"},
      {"\xC2\x9B"
       "2J\xC2\x85",
       "\\xC2\\x9B"
       "2J\\xC2\\x85"},
      // Invalid UTF-8, byte by byte: stray, overlong, surrogate, too high,
      // cut short by ASCII or by the end.
      {"\x80\xFF", "\\x80\\xFF"},
      {"\xC0\xAF\xE0\x80\xAF", "\\xC0\\xAF\\xE0\\x80\\xAF"},
      {"\xED\xA0\x80", "\\xED\\xA0\\x80"},
      {"\xF4\x90\x80\x80\xF5", "\\xF4\\x90\\x80\\x80\\xF5"},
      {"\xE2\x82"
       "A\xE2\x82",
       "\\xE2\\x82"
       "A\\xE2\\x82"},
  };
  for (const Case& c : cases) EXPECT_EQ(SafeText(c.in), c.out) << c.in;
}

TEST(SafeText, ALongTextIsCutAtTheLimitAndSaysHowLongItWas) {
  const std::string ellipsis = "\xE2\x80\xA6";
  const Case cases[] = {
      {std::string(200, 'a'), std::string(200, 'a')},
      {std::string(201, 'a'), std::string(200, 'a') + ellipsis + "(201 bytes)"},
      {std::string(100000, 'a'), std::string(200, 'a') + ellipsis + "(100000 bytes)"},
      // Never half a character: the one that straddles the limit goes.
      {std::string(199, 'a') + "\xC3\xA9" + "b", std::string(199, 'a') + ellipsis + "(202 bytes)"},
      // The limit counts the text's bytes, not the escapes'.
      {std::string(300, '\n'),
       [] {
         std::string out;
         for (int i = 0; i < 200; ++i) out += "\\x0A";
         return out;
       }() +
           ellipsis + "(300 bytes)"},
  };
  for (const Case& c : cases) EXPECT_EQ(SafeText(c.in), c.out) << c.in.size() << " bytes";
  EXPECT_EQ(SafeText("abcdef", 3), "abc" + ellipsis + "(6 bytes)");
}

}  // namespace
