// The profile line image in the host build: the image made from hostile
// bytes, look-ups ("@n" keys included), where changes go, deletes, the
// write-back's bytes with their empty lines, the capacity, and round trips.
#include <cstring>
#include <string>
#include <vector>

#include "os_coscfg_profile_image.h"
#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::string>;

// An image of a given capacity in a buffer that starts out as garbage, so
// that the zero fill behind the end mark is seen.
class CImage {
 public:
  explicit CImage(const std::string& a_sBytes, std::size_t a_sizetCapacity = 256)
      : m_sizetCapacity(a_sizetCapacity), m_vecBuffer(OsCfgProfileImageBufferSize(a_sizetCapacity), 'q') {
    OsCfgProfileImageMake(Data(), m_sizetCapacity, a_sBytes.data(), a_sBytes.size());
  }
  char* Data() { return m_vecBuffer.data(); }
  const char* Data() const { return m_vecBuffer.data(); }
  std::size_t Capacity() const { return m_sizetCapacity; }
  const std::vector<char>& Buffer() const { return m_vecBuffer; }

  Lines GetLines() const {
    Lines l_vec;
    for (std::size_t l_sizet = 0; m_vecBuffer[l_sizet] != 0; l_sizet += l_vec.back().size() + 1)
      l_vec.emplace_back(Data() + l_sizet);
    return l_vec;
  }
  std::string Text() const {
    std::size_t l_sizetLength = 0;
    const EOSSTS l_eossts = OsCfgProfileImageText(Data(), nullptr, 0, &l_sizetLength);
    EXPECT_EQ(l_eossts, l_sizetLength == 0 ? OS_STS_SUCCESS : OS_STS_TOOSMALL);
    std::string l_s(l_sizetLength, '?');
    std::size_t l_sizetAgain = 0;
    EXPECT_EQ(OsCfgProfileImageText(Data(), l_s.data(), l_s.size(), &l_sizetAgain), OS_STS_SUCCESS);
    EXPECT_EQ(l_sizetAgain, l_sizetLength);
    EXPECT_LE(l_sizetLength, OsCfgProfileImageTextBound(m_sizetCapacity));
    return l_s;
  }
  const char* LookUp(const char* a_szSection, const char* a_szKey) const {
    return OsCfgProfileImageLookUp(Data(), a_szSection, a_szKey);
  }
  std::string Value(const char* a_szSection, const char* a_szKey) const {
    const char* const l_sz = LookUp(a_szSection, a_szKey);
    return l_sz != nullptr ? l_sz : "(none)";
  }
  EOSSTS Set(const char* a_szSection, const char* a_szKey, const char* a_szValue) {
    return OsCfgProfileImageSet(Data(), m_sizetCapacity, a_szSection, a_szKey, a_szValue);
  }
  bool Delete(const char* a_szSection, const char* a_szKey) {
    return OsCfgProfileImageDelete(Data(), a_szSection, a_szKey);
  }
  // No line is empty, the end mark lies within the capacity, zeros behind it.
  ::testing::AssertionResult Sound() const {
    const std::size_t l_sizetEnd = OsCfgProfileImageLength(Data());
    if (l_sizetEnd > m_sizetCapacity + 1) return ::testing::AssertionFailure() << "end mark at " << l_sizetEnd;
    for (std::size_t l_sizet = l_sizetEnd; l_sizet < m_vecBuffer.size(); ++l_sizet)
      if (m_vecBuffer[l_sizet] != 0) return ::testing::AssertionFailure() << "byte " << l_sizet << " behind the end";
    return ::testing::AssertionSuccess();
  }

 private:
  std::size_t m_sizetCapacity;
  std::vector<char> m_vecBuffer;
};

// ---- the image made from hostile bytes ----

TEST(OsCfgProfileImage, LinesInFileOrderEmptyLinesDropped) {
  const CImage l_image("\n\n[S]\n\nk=v\n\n\n;c\n");
  EXPECT_EQ(l_image.GetLines(), (Lines{"[S]", "k=v", ";c"}));
  EXPECT_EQ(OsCfgProfileImageLength(l_image.Data()), 4u + 4u + 3u);
  EXPECT_TRUE(l_image.Sound());
}

TEST(OsCfgProfileImage, ByteOrderMarkOnlyAtTheStart) {
  EXPECT_EQ(CImage("\xEF\xBB\xBF[S]\nk=v").GetLines(), (Lines{"[S]", "k=v"}));
  EXPECT_EQ(CImage("\xEF\xBB\xBF\n[S]").GetLines(), (Lines{"[S]"}));
  EXPECT_EQ(CImage("\xEF\xBB\xBF").GetLines(), Lines{});
  // Not at the start, or cut short: ordinary bytes.
  EXPECT_EQ(CImage("[S]\n\xEF\xBB\xBFk=v").GetLines(), (Lines{"[S]", "\xEF\xBB\xBFk=v"}));
  EXPECT_EQ(CImage("\xEF\xBB").GetLines(), (Lines{"\xEF\xBB"}));
  EXPECT_EQ(CImage("\xEF\xBB\xBF\xEF\xBB\xBFx").GetLines(), (Lines{"\xEF\xBB\xBFx"}));
}

TEST(OsCfgProfileImage, CrAndNulBytesAreDroppedWherePlaced) {
  EXPECT_EQ(CImage("[S]\r\nk=v\r\n\r\n").GetLines(), (Lines{"[S]", "k=v"}));
  EXPECT_EQ(CImage("a\rb\r\r\nc\r").GetLines(), (Lines{"ab", "c"}));
  // A NUL neither ends the image nor splits a line; a line of NULs vanishes.
  EXPECT_EQ(CImage(std::string("[S]\n\0\na=1\0\nb\0=2\n\0", 17)).GetLines(), (Lines{"[S]", "a=1", "b=2"}));
  EXPECT_EQ(CImage(std::string("\0\0\r\0", 4)).GetLines(), Lines{});
  EXPECT_TRUE(CImage(std::string("\0x\r\n\0\0", 6)).Sound());
}

TEST(OsCfgProfileImage, NoTrailingLfKeepsTheLastLine) {
  EXPECT_EQ(CImage("[S]\nk=v").GetLines(), (Lines{"[S]", "k=v"}));
  EXPECT_EQ(CImage("x").GetLines(), (Lines{"x"}));
  EXPECT_EQ(CImage("").GetLines(), Lines{});
  EXPECT_TRUE(CImage("").Sound());
}

TEST(OsCfgProfileImage, ExactlyFullCapacity) {
  const std::size_t l_sizetCapacity = 32;
  // Capacity bytes ending in LF: the end mark at the capacity.
  const std::string l_sFull = "[S]\nk=" + std::string(l_sizetCapacity - 7, 'v') + "\n";
  ASSERT_EQ(l_sFull.size(), l_sizetCapacity);
  const CImage l_image(l_sFull, l_sizetCapacity);
  EXPECT_EQ(OsCfgProfileImageLength(l_image.Data()), l_sizetCapacity);
  EXPECT_TRUE(l_image.Sound());
  // Without the LF the last line's terminator takes the byte after the capacity.
  const std::string l_sNoLf = "[S]\nk=" + std::string(l_sizetCapacity - 6, 'v');
  const CImage l_imageNoLf(l_sNoLf, l_sizetCapacity);
  EXPECT_EQ(OsCfgProfileImageLength(l_imageNoLf.Data()), l_sizetCapacity + 1);
  EXPECT_EQ(l_imageNoLf.Value("S", "k"), std::string(l_sizetCapacity - 6, 'v'));
  EXPECT_EQ(l_imageNoLf.Buffer().back(), 0);
  EXPECT_TRUE(l_imageNoLf.Sound());
  // Bytes beyond the capacity are not looked at: the cut line stays a line.
  const CImage l_imageLonger(l_sNoLf + "xyz\nafter=1\n", l_sizetCapacity);
  EXPECT_EQ(l_imageLonger.GetLines(), l_imageNoLf.GetLines());
  EXPECT_EQ(l_imageLonger.Value("S", "after"), "(none)");
  // A capacity of LFs and CRs only is an empty image.
  EXPECT_EQ(CImage(std::string(l_sizetCapacity, '\n'), l_sizetCapacity).GetLines(), Lines{});
}

TEST(OsCfgProfileImage, InPlaceMakeEqualsTheCopy) {
  const std::string l_s = "\xEF\xBB\xBF\r\n[Main]\r\nRoot=C:\\x\r\n\r\n;note\r\nlast";
  const CImage l_image(l_s);
  std::vector<char> l_vec(OsCfgProfileImageBufferSize(256), 'q');
  std::memcpy(l_vec.data(), l_s.data(), l_s.size());
  OsCfgProfileImageMake(l_vec.data(), 256, l_vec.data(), l_s.size());
  EXPECT_EQ(l_vec, l_image.Buffer());
  OsCfgProfileImageMake(l_vec.data(), 256, nullptr, 5);
  EXPECT_EQ(l_vec, std::vector<char>(l_vec.size(), 0));
}

// ---- look-up ----

TEST(OsCfgProfileImage, SectionAndKeyWithoutCaseValueUntrimmed) {
  const CImage l_image("[Main]\nRoot=C:\\x\nSpaced = a b \nEmpty=\nTwice=1=2\n");
  EXPECT_EQ(l_image.Value("main", "root"), "C:\\x");
  EXPECT_EQ(l_image.Value("MAIN", "Spaced "), " a b ");
  EXPECT_EQ(l_image.Value("Main", "Spaced"), "(none)");  // the key is everything before '='
  EXPECT_EQ(l_image.Value("Main", "Empty"), "");
  EXPECT_EQ(l_image.Value("Main", "Twice"), "1=2");
  EXPECT_EQ(l_image.Value("Main", "Roo"), "(none)");
  EXPECT_EQ(l_image.Value("Main", ""), "(none)");  // an empty key never matches
  EXPECT_EQ(l_image.Value("Other", "Root"), "(none)");
  EXPECT_TRUE(OsCfgProfileImageHasSection(l_image.Data(), "mAiN"));
  EXPECT_FALSE(OsCfgProfileImageHasSection(l_image.Data(), "Mai"));
}

TEST(OsCfgProfileImage, HeadersAreWholeLinesAndOnlyTheFirstCounts) {
  const CImage l_image("k=0\n [A]\nk=1\n[A] \nk=2\n[a]\nk=3\n[A]\nk=4\nz=5\n[B]\nk=6\n");
  EXPECT_EQ(l_image.Value("A", "k"), "3");
  EXPECT_EQ(l_image.Value("A", "z"), "(none)");  // the second [A] is never searched
  EXPECT_EQ(l_image.Value(" A", "k"), "(none)");
  EXPECT_EQ(l_image.Value("B", "k"), "6");
  EXPECT_EQ(l_image.Value("", "k"), "(none)");
  EXPECT_EQ(CImage("[]\nk=7\n").Value("", "k"), "7");
  // A key of the first section is not found in the next one.
  EXPECT_EQ(CImage("[A]\n[B]\nk=1\n").Value("A", "k"), "(none)");
}

TEST(OsCfgProfileImage, IndexKeysCountLinesUpToTheNextHeader) {
  const CImage l_image("[S]\na=1\nno value\nb=2\n;c=3\n[T]\nt=1\n");
  EXPECT_EQ(l_image.Value("S", "@0"), "1");
  EXPECT_EQ(l_image.Value("S", "@1"), "(none)");  // the line has no '='
  EXPECT_EQ(l_image.Value("S", "@2"), "2");
  EXPECT_EQ(l_image.Value("S", "@3"), "3");       // a comment with '=' counts
  EXPECT_EQ(l_image.Value("S", "@4"), "(none)");  // the next header ends the section
  EXPECT_EQ(l_image.Value("S", "@99999999999999999999"), "(none)");
  EXPECT_EQ(l_image.Value("S", "@"), "1");  // no digits: 0
  EXPECT_EQ(l_image.Value("S", "@2x"), "2");
  EXPECT_EQ(l_image.Value("S", "@-1"), "(none)");
  EXPECT_EQ(l_image.Value("S", "@+1"), "(none)");
  EXPECT_EQ(l_image.Value("T", "@0"), "1");
  EXPECT_EQ(l_image.Value("T", "@1"), "(none)");
  EXPECT_EQ(CImage("[E]\n").Value("E", "@0"), "(none)");
  EXPECT_EQ(CImage("[S]\nx=a=b\n").Value("S", "@0"), "a=b");
}

// ---- where changes go ----

TEST(OsCfgProfileImage, ANewKeyGoesAfterTheSectionsLastKeyLine) {
  CImage l_image("[A]\na=1\n;after a\nnot a key\n[B]\nb=1\n");
  ASSERT_EQ(l_image.Set("a", "n", "2"), OS_STS_SUCCESS);
  EXPECT_EQ(l_image.GetLines(), (Lines{"[A]", "a=1", "n=2", ";after a", "not a key", "[B]", "b=1"}));
  // A comment with '=' is not a key line.
  CImage l_imageComment("[A]\n;x=1\n[B]\n");
  ASSERT_EQ(l_imageComment.Set("A", "k", "v"), OS_STS_SUCCESS);
  EXPECT_EQ(l_imageComment.GetLines(), (Lines{"[A]", "k=v", ";x=1", "[B]"}));
  EXPECT_TRUE(l_image.Sound());
}

TEST(OsCfgProfileImage, ASectionWithoutKeyLinesTakesItAfterTheHeader) {
  CImage l_image("[A]\n;only a comment\n[B]\n");
  ASSERT_EQ(l_image.Set("A", "k", "v"), OS_STS_SUCCESS);
  EXPECT_EQ(l_image.GetLines(), (Lines{"[A]", "k=v", ";only a comment", "[B]"}));
}

TEST(OsCfgProfileImage, TheLastSectionGrowsAtTheEnd) {
  CImage l_image("[A]\na=1\n[B]\nb=1\n;trailing\nplain\n");
  ASSERT_EQ(l_image.Set("B", "c", "2"), OS_STS_SUCCESS);
  EXPECT_EQ(l_image.GetLines(), (Lines{"[A]", "a=1", "[B]", "b=1", ";trailing", "plain", "c=2"}));
  CImage l_imageHeader("[A]");
  ASSERT_EQ(l_imageHeader.Set("A", "k", "v"), OS_STS_SUCCESS);
  EXPECT_EQ(l_imageHeader.GetLines(), (Lines{"[A]", "k=v"}));
}

TEST(OsCfgProfileImage, ANewSectionIsAppended) {
  CImage l_image("top=1\n[A]\na=1\n;end\n");
  ASSERT_EQ(l_image.Set("New", "k", "v"), OS_STS_SUCCESS);
  EXPECT_EQ(l_image.GetLines(), (Lines{"top=1", "[A]", "a=1", ";end", "[New]", "k=v"}));
  CImage l_imageEmpty("");
  ASSERT_EQ(l_imageEmpty.Set("S", "", ""), OS_STS_SUCCESS);  // callers refuse empty keys themselves
  EXPECT_EQ(l_imageEmpty.GetLines(), (Lines{"[S]", "="}));
  EXPECT_TRUE(l_imageEmpty.Sound());
}

TEST(OsCfgProfileImage, AValueIsReplacedInPlaceTheKeyKeepsItsSpelling) {
  CImage l_image("[S]\nKey=old value\nnext=1\n[T]\nt=2\n");
  ASSERT_EQ(l_image.Set("s", "KEY", "v"), OS_STS_SUCCESS);
  EXPECT_EQ(l_image.GetLines(), (Lines{"[S]", "Key=v", "next=1", "[T]", "t=2"}));
  EXPECT_TRUE(l_image.Sound());  // the bytes freed at the end are zero
  ASSERT_EQ(l_image.Set("S", "key", "a much longer value"), OS_STS_SUCCESS);
  EXPECT_EQ(l_image.GetLines(), (Lines{"[S]", "Key=a much longer value", "next=1", "[T]", "t=2"}));
  ASSERT_EQ(l_image.Set("S", "key", ""), OS_STS_SUCCESS);
  EXPECT_EQ(l_image.GetLines(), (Lines{"[S]", "Key=", "next=1", "[T]", "t=2"}));
  EXPECT_TRUE(l_image.Sound());
  // Only the first of two lines of the key changes.
  CImage l_imageTwice("[S]\nk=1\nk=2\n");
  ASSERT_EQ(l_imageTwice.Set("S", "k", "3"), OS_STS_SUCCESS);
  EXPECT_EQ(l_imageTwice.GetLines(), (Lines{"[S]", "k=3", "k=2"}));
}

TEST(OsCfgProfileImage, AChangeInASecondHeaderOfTheNameGoesToTheFirst) {
  CImage l_image("[S]\na=1\n[T]\n[S]\nb=2\n");
  ASSERT_EQ(l_image.Set("S", "b", "3"), OS_STS_SUCCESS);
  EXPECT_EQ(l_image.GetLines(), (Lines{"[S]", "a=1", "b=3", "[T]", "[S]", "b=2"}));
}

// ---- delete ----

TEST(OsCfgProfileImage, DeleteRemovesTheFirstLineOfTheKey) {
  CImage l_image("[S]\nk=1\nK=2\nother=3\n[T]\nk=4\n");
  EXPECT_TRUE(l_image.Delete("s", "K"));
  EXPECT_EQ(l_image.GetLines(), (Lines{"[S]", "K=2", "other=3", "[T]", "k=4"}));
  EXPECT_TRUE(l_image.Sound());
  EXPECT_TRUE(l_image.Delete("T", "k"));
  EXPECT_EQ(l_image.GetLines(), (Lines{"[S]", "K=2", "other=3", "[T]"}));
  EXPECT_TRUE(l_image.Sound());
}

TEST(OsCfgProfileImage, DeleteMissesLeaveTheImage) {
  CImage l_image("[S]\nk=1\n;k=2\n[T]\n");
  const std::vector<char> l_vecBefore = l_image.Buffer();
  EXPECT_FALSE(l_image.Delete("X", "k"));
  EXPECT_FALSE(l_image.Delete("S", "missing"));
  EXPECT_FALSE(l_image.Delete("S", ""));
  EXPECT_FALSE(l_image.Delete("T", "k"));
  EXPECT_FALSE(l_image.Delete("S", "@0"));
  EXPECT_EQ(l_image.Buffer(), l_vecBefore);
}

// ---- the write-back's bytes ----

TEST(OsCfgProfileImage, EveryLineEndsInCrLf) {
  EXPECT_EQ(CImage("[Main]\nRoot=C:\\x").Text(), "[Main]\r\nRoot=C:\\x\r\n");
  EXPECT_EQ(CImage("").Text(), "");
  EXPECT_EQ(CImage("a=1\nb=2\n").Text(), "a=1\r\nb=2\r\n");
}

TEST(OsCfgProfileImage, EmptyLinesSetSectionsAndCommentRunsApart) {
  // Sections after keys, and headers after headers.
  EXPECT_EQ(CImage("[A]\na=1\n[B]\nb=2\n").Text(), "[A]\r\na=1\r\n\r\n[B]\r\nb=2\r\n");
  EXPECT_EQ(CImage("[A]\n[B]\n[C]\nc=1\n").Text(), "[A]\r\n\r\n[B]\r\n\r\n[C]\r\nc=1\r\n");
  // A comment or plain line after key lines; not before them.
  EXPECT_EQ(CImage("[A]\n;c\na=1\n;d\nplain\ne=2\n").Text(), "[A]\r\n;c\r\na=1\r\n\r\n;d\r\nplain\r\ne=2\r\n");
  // A header after a header and a comment: the header count decides.
  EXPECT_EQ(CImage("[A]\n;c\n[B]\n").Text(), "[A]\r\n;c\r\n\r\n[B]\r\n");
  // After an empty line the header that caused it counts as one.
  EXPECT_EQ(CImage("[A]\nk=1\n[B]\n[C]\n").Text(), "[A]\r\nk=1\r\n\r\n[B]\r\n\r\n[C]\r\n");
  // Key lines before the first header; a header that holds an '=' is a key line too.
  EXPECT_EQ(CImage("k=1\n[A]\n").Text(), "k=1\r\n\r\n[A]\r\n");
  EXPECT_EQ(CImage("[A=1]\n;c\n").Text(), "[A=1]\r\n\r\n;c\r\n");
  EXPECT_EQ(CImage(";c=1\n;d\n").Text(), ";c=1\r\n;d\r\n");
}

TEST(OsCfgProfileImage, ANewKeyInTheFirstOfTwoSectionsWrittenBack) {
  CImage l_image("[A]\na=1\n;note\n[B]\nb=1\n");
  ASSERT_EQ(l_image.Set("A", "n", "2"), OS_STS_SUCCESS);
  // The comment after the keys is set apart; the header after it is not
  // (no header and no key line since that empty line).
  EXPECT_EQ(l_image.Text(), "[A]\r\na=1\r\nn=2\r\n\r\n;note\r\n[B]\r\nb=1\r\n");
}

// The sink sees the pieces in order and may stop the write-back.
struct OsCfgProfileTestSink {
  std::string m_s;
  int m_iCalls = 0;
  int m_iStopAt = -1;
};

bool TestSink(void* a_pvContext, const char* a_pc, std::size_t a_sizet) {
  OsCfgProfileTestSink* const l_psink = static_cast<OsCfgProfileTestSink*>(a_pvContext);
  if (l_psink->m_iCalls++ == l_psink->m_iStopAt) return false;
  l_psink->m_s.append(a_pc, a_sizet);
  return true;
}

TEST(OsCfgProfileImage, TheSinkAndTheBuffer) {
  const CImage l_image("[A]\na=1\n[B]\n");
  OsCfgProfileTestSink l_sink;
  EXPECT_EQ(OsCfgProfileImageSerialise(l_image.Data(), TestSink, &l_sink), OS_STS_SUCCESS);
  EXPECT_EQ(l_sink.m_s, "[A]\r\na=1\r\n\r\n[B]\r\n");
  OsCfgProfileTestSink l_sinkStop;
  l_sinkStop.m_iStopAt = 3;
  EXPECT_EQ(OsCfgProfileImageSerialise(l_image.Data(), TestSink, &l_sinkStop), OS_STS_FAIL);
  EXPECT_EQ(l_sinkStop.m_s, "[A]\r\na=1");
  EXPECT_EQ(l_sinkStop.m_iCalls, 4);  // nothing after the refusal

  // A buffer too small takes what fits and learns the whole length.
  char l_ac[8];
  std::memset(l_ac, '#', sizeof(l_ac));
  std::size_t l_sizetLength = 0;
  EXPECT_EQ(OsCfgProfileImageText(l_image.Data(), l_ac, 7, &l_sizetLength), OS_STS_TOOSMALL);
  EXPECT_EQ(l_sizetLength, 17u);
  EXPECT_EQ(std::string(l_ac, sizeof(l_ac)), "[A]\r\na=#");
  char l_acExact[17];
  EXPECT_EQ(OsCfgProfileImageText(l_image.Data(), l_acExact, sizeof(l_acExact), nullptr), OS_STS_SUCCESS);
  EXPECT_EQ(std::string(l_acExact, sizeof(l_acExact)), "[A]\r\na=1\r\n\r\n[B]\r\n");
}

TEST(OsCfgProfileImage, TheTextBoundHoldsForTheWorstImage) {
  // One-byte lines alternating between header-like and plain: each takes an
  // empty line before it where the rule allows.
  for (const std::size_t l_sizetCapacity : {std::size_t{1}, std::size_t{2}, std::size_t{7}, std::size_t{64}}) {
    std::string l_s;
    for (std::size_t l_sizet = 0; l_sizet < l_sizetCapacity; l_sizet += 2) l_s += (l_sizet % 4 == 0 ? "=\n" : "x\n");
    const CImage l_image(l_s + "x", l_sizetCapacity);
    EXPECT_LE(l_image.Text().size(), OsCfgProfileImageTextBound(l_sizetCapacity)) << l_sizetCapacity;
  }
}

// ---- the capacity ----

TEST(OsCfgProfileImage, AChangeBeyondTheCapacityLeavesTheImage) {
  const std::size_t l_sizetCapacity = 64;
  // "[S]" 4, "k=..." 2 + n + 1: 4 bytes short of full.
  const std::size_t l_sizetValue = l_sizetCapacity - 4 - 4 - 3;
  CImage l_image("[S]\nk=" + std::string(l_sizetValue, 'v') + "\n", l_sizetCapacity);
  ASSERT_EQ(l_image.Set("S", "a", "b"), OS_STS_SUCCESS);  // exactly full
  EXPECT_EQ(OsCfgProfileImageLength(l_image.Data()), l_sizetCapacity);
  const std::vector<char> l_vecFull = l_image.Buffer();
  EXPECT_EQ(l_image.Set("S", "c", "d"), OS_STS_FAIL);
  EXPECT_EQ(l_image.Set("S", "a", "bb"), OS_STS_FAIL);
  EXPECT_EQ(l_image.Set("T", "x", "y"), OS_STS_FAIL);
  EXPECT_EQ(l_image.Buffer(), l_vecFull);
  EXPECT_EQ(l_image.Set("S", "a", "c"), OS_STS_SUCCESS);  // the same size fits
  EXPECT_EQ(l_image.Set("S", "a", ""), OS_STS_SUCCESS);   // shrinking always fits
  EXPECT_EQ(l_image.Text(), "[S]\r\nk=" + std::string(l_sizetValue, 'v') + "\r\na=\r\n");
  EXPECT_TRUE(l_image.Sound());
}

TEST(OsCfgProfileImage, AFullReadBeyondTheCapacityOnlyShrinksOrKeepsItsSize) {
  const std::size_t l_sizetCapacity = 16;
  CImage l_image("[S]\nk=1234567890", l_sizetCapacity);  // 16 bytes, no LF
  ASSERT_EQ(OsCfgProfileImageLength(l_image.Data()), l_sizetCapacity + 1);
  const std::vector<char> l_vecFull = l_image.Buffer();
  EXPECT_EQ(l_image.Set("S", "more", "1"), OS_STS_FAIL);
  EXPECT_EQ(l_image.Set("S", "k", "12345678901"), OS_STS_FAIL);
  EXPECT_EQ(l_image.Buffer(), l_vecFull);
  EXPECT_EQ(l_image.Set("S", "k", "0987654321"), OS_STS_SUCCESS);
  EXPECT_EQ(l_image.Value("S", "k"), "0987654321");
  EXPECT_TRUE(l_image.Delete("S", "k"));
  EXPECT_EQ(l_image.GetLines(), Lines{"[S]"});
  EXPECT_TRUE(l_image.Sound());
}

TEST(OsCfgProfileImage, TheCachesCapacity) {
  const std::size_t l_sizetValue = OS_CFG_PROFILE_IMAGE_SIZE - 4 - 4 - 3;
  CImage l_image("[S]\nk=" + std::string(l_sizetValue, 'v') + "\n", OS_CFG_PROFILE_IMAGE_SIZE);
  EXPECT_EQ(l_image.Set("S", "a", "b"), OS_STS_SUCCESS);
  EXPECT_EQ(l_image.Set("S", "c", "d"), OS_STS_FAIL);
  EXPECT_EQ(OsCfgProfileImageLength(l_image.Data()), OS_CFG_PROFILE_IMAGE_SIZE);
  EXPECT_TRUE(l_image.Sound());
}

// ---- round trips ----

TEST(OsCfgProfileImage, MakeTextMakeGivesTheSameImage) {
  const std::size_t l_sizetCapacity = 512;
  const char* const l_aszCases[] = {
      "",
      "[Main]\nRoot=C:\\x\n",
      "\xEF\xBB\xBF[A]\r\na=1\r\n;c\r\n\r\n[B]\r\n[C]\r\nplain\r\nk=v",
      "k=1\n;top\n[A=1]\n[]\n=\n;\n[x\n]\n",
  };
  for (const char* const l_sz : l_aszCases) {
    CImage l_image(l_sz, l_sizetCapacity);
    ASSERT_EQ(l_image.Set("A", "new", "1"), OS_STS_SUCCESS);
    ASSERT_EQ(l_image.Set("Z", "z", "2"), OS_STS_SUCCESS);
    l_image.Delete("A", "a");
    const CImage l_imageAgain(l_image.Text(), l_sizetCapacity);
    EXPECT_EQ(l_imageAgain.Buffer(), l_image.Buffer()) << l_sz;
  }
}

TEST(OsCfgProfileImage, AFullImageRoundTripsThroughAnAmpleBuffer) {
  // The text of a full image outgrows the capacity; it is made again from a
  // buffer the size of the text, and the bytes beyond the capacity never count.
  const std::size_t l_sizetCapacity = 40;
  const CImage l_image("[A]\n[B]\n[C]\n[D]\nk=1\nl=2\n;x\n;y\n[E]\n", l_sizetCapacity);
  const std::string l_sText = l_image.Text();
  EXPECT_GT(l_sText.size(), l_sizetCapacity);
  const CImage l_imageAgain(l_sText, l_sText.size());
  EXPECT_EQ(l_imageAgain.GetLines(), l_image.GetLines());
}

}  // namespace
