#include <gtest/gtest.h>

#include <string>

#include "net/charset.h"
#include "platform/platform.h"

namespace zdb {
namespace {

std::string FromServer(std::string bytes) {
  FromServerCharset(reinterpret_cast<uint8_t*>(bytes.data()), static_cast<int32_t>(bytes.size()));
  return bytes;
}

TEST(ServerCharset, AsciiPassesBothWaysUnchanged) {
  std::string ascii;
  for (int c = 0x20; c <= 0x7E; ++c) ascii += static_cast<char>(c);
  const std::string sent = ToServerCharset(ascii.c_str(), ascii.size() + 1);
  ASSERT_EQ(sent.size(), ascii.size() + 1);
  EXPECT_EQ(sent.substr(0, ascii.size()), ascii);
  EXPECT_EQ(sent.back(), '\0');  // the terminating zero travels along
  EXPECT_EQ(FromServer(ascii), ascii);
  EXPECT_EQ(ToServerText(""), std::string(1, '\0'));
}

TEST(ServerCharset, TablesAsTheServerDefinesThem) {
  // The OEM stage alone, then the server table.
  EXPECT_EQ(kToServer[0x15], 0xEB);
  EXPECT_EQ(kFromServer[0xEB], 0x15);
  EXPECT_EQ(kToServer[0x80], 0xD8);
  EXPECT_EQ(kToServer[0x98], 0x20);
  EXPECT_EQ(kToServer[0xDB], 0xAE);
  EXPECT_EQ(kToServer[0xDF], 0xAE);
  EXPECT_EQ(kToServer[0xF8], 0xEC);
  EXPECT_EQ(kToServer[0xFD], 0xED);
  EXPECT_EQ(kFromServer[0xA0], 0xDA);
  EXPECT_EQ(kFromServer[0xC0], 0x8E);
  EXPECT_EQ(kFromServer[0xED], 0xFD);
  for (int b = 0; b < 0xA0; ++b) EXPECT_EQ(kFromServer[b], b) << b;
  for (int b = 0xBA; b <= 0xBF; ++b) EXPECT_EQ(kFromServer[b], 0x20) << b;
  for (int b = 0xEE; b <= 0xFF; ++b) EXPECT_EQ(kFromServer[b], 0x20) << b;
  int spaces = 0;
  for (int b = 0x80; b <= 0xFF; ++b) spaces += kToServer[b] == 0x20;
  EXPECT_EQ(spaces, 57);
}

TEST(ServerCharset, WholeConversionThroughTheCodePage) {
  // e-acute (1252: E9) is 0x82 in code page 437 and 0xC9 on the server; the section sign (A7)
  // is 0x15 in the OEM page and so 0xEB on the server.
  const std::string in = "\xE9\xA7x";
  const std::string sent = ToServerCharset(in.c_str(), in.size() + 1);
  EXPECT_EQ(sent, std::string("\xC9\xEB"
                              "x\0",
                              4));
#ifdef _WIN32
  // The system's own OEM table: Windows gives the section sign back for 0x15, Wine keeps
  // 0x15, so only the letter is checked on the way back.
  EXPECT_EQ(FromServer("\xC9x"), "\xE9x");
#else
  EXPECT_EQ(FromServer("\xC9\xEB"
                       "x"),
            in);
#endif
  // Server bytes without a counterpart come back as spaces.
  EXPECT_EQ(FromServer("\xBA\xEE\xFF"), "   ");
  // A length of 0 or less converts nothing.
  std::string untouched = "\xC9";
  FromServerCharset(reinterpret_cast<uint8_t*>(untouched.data()), 0);
  FromServerCharset(reinterpret_cast<uint8_t*>(untouched.data()), -5);
  EXPECT_EQ(untouched, "\xC9");
  EXPECT_EQ(ToServerCharset("abc", 0), "");
  // Long texts are converted over their whole length.
  std::string big(70000, '\xE9');
  const std::string bigSent = ToServerCharset(big.data(), big.size());
  EXPECT_EQ(bigSent, std::string(70000, '\xC9'));
}

TEST(OemCodePage, BestFitAndRoundTrip) {
  auto toOem = [](std::string s) {
    platform::ClientToOem(reinterpret_cast<uint8_t*>(s.data()), s.size());
    return s;
  };
  auto toAnsi = [](std::string s) {
    platform::OemToClient(reinterpret_cast<uint8_t*>(s.data()), s.size());
    return s;
  };
  std::string ascii;
  for (int c = 0; c < 0x80; ++c) ascii += static_cast<char>(c);
  EXPECT_EQ(toOem(ascii), ascii);
  // Letters the OEM page has map exactly and come back.
  EXPECT_EQ(toOem("\xC4\xD6\xDC\xE4\xF6\xFC\xDF"), "\x8E\x99\x9A\x84\x94\x81\xE1");
  EXPECT_EQ(toAnsi("\x8E\x99\x9A\x84\x94\x81\xE1"), "\xC4\xD6\xDC\xE4\xF6\xFC\xDF");
  // Letters it lacks lose their accent; signs without a look-alike become '?'.
  EXPECT_EQ(toOem("\xC0\xC3\xD5\xFD"), "AAOy");
  EXPECT_EQ(toOem("\x93\x94\x96"), "\"\"-");
#ifndef _WIN32
  // The stand-in's own tables; the system's best fit differs (the currency sign becomes 0x0F,
  // a vertical box line the broken bar).
  EXPECT_EQ(toOem("\x80\xA4"), "??");
  // Box lines come back as the nearest ASCII.
  EXPECT_EQ(toAnsi("\xC4\xB3\xDA"), "-|+");
  EXPECT_EQ(toAnsi("\x15\x14"), "\xA7\xB6");
#endif
}

}  // namespace
}  // namespace zdb
