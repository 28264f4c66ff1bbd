// libFuzzer target of the profile line image: the input's bytes are made
// into an image of a capacity the input chooses, then a script drawn from
// the same bytes looks up, sets and deletes keys whose sections and keys are
// taken from the image's own lines or from the input. After every step the
// image must stay sound (no empty line, the end mark within the capacity,
// zeros behind it); a refused change must leave it byte for byte, a set
// value must read back. At the end the text of the write-back is made into
// an image again, which must equal the image, and give the same text.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "os_coscfg_profile_image.h"

namespace {

constexpr std::size_t OS_FUZZ_MAX_CAPACITY = 8 + 255 * 16;
constexpr std::size_t OS_FUZZ_MAX_STEPS = 24;
constexpr std::size_t OS_FUZZ_MAX_NAMES = 64;

char s_acImage[OsCfgProfileImageBufferSize(OS_FUZZ_MAX_CAPACITY)];
char s_acBefore[sizeof(s_acImage)];
char s_acText[OsCfgProfileImageTextBound(OS_FUZZ_MAX_CAPACITY)];
char s_acAgain[OsCfgProfileImageBufferSize(sizeof(s_acText))];
char s_acTextAgain[OsCfgProfileImageTextBound(sizeof(s_acText))];

void Check(bool a_b) {
  if (!a_b) std::abort();
}

// The input read as a script: bytes, then zeros once it runs out.
class CScript {
 public:
  CScript(const std::uint8_t* a_pu8, std::size_t a_sizet) : m_pu8(a_pu8), m_sizet(a_sizet) {}
  std::uint8_t Byte() { return m_sizetAt < m_sizet ? m_pu8[m_sizetAt++] : 0; }
  // Up to 31 bytes of the input; NUL, CR and LF cannot be part of a line.
  std::string Text() {
    std::string l_s;
    for (std::size_t l_sizet = Byte() % 32; l_sizet > 0; --l_sizet) {
      const char l_c = static_cast<char>(Byte());
      if (l_c != 0 && l_c != '\r' && l_c != '\n') l_s += l_c;
    }
    return l_s;
  }

 private:
  const std::uint8_t* m_pu8;
  std::size_t m_sizet;
  std::size_t m_sizetAt = 0;
};

bool IsHeader(const std::string& a_s) { return a_s.size() >= 2 && a_s.front() == '[' && a_s.back() == ']'; }

// No line is empty, the end mark lies within the capacity, zeros behind it.
void CheckSound(const char* a_acImage, std::size_t a_sizetCapacity) {
  const std::size_t l_sizetBuffer = OsCfgProfileImageBufferSize(a_sizetCapacity);
  std::size_t l_sizet = 0;
  while (l_sizet < l_sizetBuffer && a_acImage[l_sizet] != 0) {
    // Each line ends inside the buffer.
    const void* const l_pvEnd = std::memchr(a_acImage + l_sizet, 0, l_sizetBuffer - l_sizet);
    Check(l_pvEnd != nullptr);
    l_sizet = static_cast<std::size_t>(static_cast<const char*>(l_pvEnd) - a_acImage) + 1;
  }
  Check(l_sizet <= a_sizetCapacity + 1 && l_sizet == OsCfgProfileImageLength(a_acImage));
  for (; l_sizet < l_sizetBuffer; ++l_sizet) Check(a_acImage[l_sizet] == 0);
}

// The sections (header names) and keys (text before an '=') of the image.
void Names(const char* a_acImage, std::vector<std::string>* a_pvecSections, std::vector<std::string>* a_pvecKeys) {
  for (std::size_t l_sizet = 0; a_acImage[l_sizet] != 0;) {
    const std::string l_sLine = a_acImage + l_sizet;
    if (IsHeader(l_sLine) && a_pvecSections->size() < OS_FUZZ_MAX_NAMES)
      a_pvecSections->push_back(l_sLine.substr(1, l_sLine.size() - 2));
    const std::size_t l_sizetEquals = l_sLine.find('=');
    if (l_sizetEquals != std::string::npos && a_pvecKeys->size() < OS_FUZZ_MAX_NAMES)
      a_pvecKeys->push_back(l_sLine.substr(0, l_sizetEquals));
    l_sizet += l_sLine.size() + 1;
  }
}

// A name of the image (its case changed when the script says so) or a text of the input.
std::string Pick(CScript* a_pscript, const std::vector<std::string>& a_vecNames) {
  const std::uint8_t l_u8 = a_pscript->Byte();
  if ((l_u8 & 1) == 0 || a_vecNames.empty()) return a_pscript->Text();
  std::string l_s = a_vecNames[(l_u8 >> 2) % a_vecNames.size()];
  if ((l_u8 & 2) != 0)
    for (char& l_c : l_s)
      if (l_c >= 'a' && l_c <= 'z') l_c = static_cast<char>(l_c - 'a' + 'A');
  return l_s;
}

bool Sink(void* a_pvContext, const char* a_pc, std::size_t a_sizet) {
  std::string* const l_ps = static_cast<std::string*>(a_pvContext);
  l_ps->append(a_pc, a_sizet);
  return true;
}

void Step(CScript* a_pscript, std::size_t a_sizetCapacity) {
  std::vector<std::string> l_vecSections;
  std::vector<std::string> l_vecKeys;
  Names(s_acImage, &l_vecSections, &l_vecKeys);
  const std::uint8_t l_u8Kind = a_pscript->Byte() % 4;
  const std::string l_sSection = Pick(a_pscript, l_vecSections);
  std::string l_sKey = Pick(a_pscript, l_vecKeys);
  const std::size_t l_sizetLength = OsCfgProfileImageLength(s_acImage);
  if (l_u8Kind == 0) {
    // "@n" keys: the value lies inside the image.
    l_sKey = "@" + std::to_string(a_pscript->Byte() % 16);
    const char* const l_sz = OsCfgProfileImageLookUp(s_acImage, l_sSection.c_str(), l_sKey.c_str());
    Check(l_sz == nullptr || (l_sz > s_acImage && l_sz + std::strlen(l_sz) < s_acImage + l_sizetLength));
  } else if (l_u8Kind == 1) {
    const char* const l_sz = OsCfgProfileImageLookUp(s_acImage, l_sSection.c_str(), l_sKey.c_str());
    Check(l_sz == nullptr || (l_sz > s_acImage && l_sz + std::strlen(l_sz) < s_acImage + l_sizetLength));
    Check(l_sz == nullptr || OsCfgProfileImageHasSection(s_acImage, l_sSection.c_str()));
  } else if (l_u8Kind == 2) {
    const std::string l_sValue = a_pscript->Text();
    std::memcpy(s_acBefore, s_acImage, OsCfgProfileImageBufferSize(a_sizetCapacity));
    const EOSSTS l_eossts =
        OsCfgProfileImageSet(s_acImage, a_sizetCapacity, l_sSection.c_str(), l_sKey.c_str(), l_sValue.c_str());
    if (l_eossts != OS_STS_SUCCESS) {
      Check(std::memcmp(s_acBefore, s_acImage, OsCfgProfileImageBufferSize(a_sizetCapacity)) == 0);
      Check(OsCfgProfileImageLength(s_acImage) + l_sSection.size() + 3 + l_sKey.size() + l_sValue.size() + 2 >
            a_sizetCapacity);
    } else {
      // Growth stays within the capacity; only a change that does not grow
      // may leave a full read's image beyond it.
      const std::size_t l_sizetNewLength = OsCfgProfileImageLength(s_acImage);
      Check(l_sizetNewLength <= a_sizetCapacity || l_sizetNewLength <= l_sizetLength);
    }
    if (l_eossts == OS_STS_SUCCESS && !l_sKey.empty() && l_sKey[0] != '@' && !IsHeader(l_sKey + "=" + l_sValue)) {
      // A key line that reads as a header would end the section: no read-back then.
      const char* const l_sz = OsCfgProfileImageLookUp(s_acImage, l_sSection.c_str(), l_sKey.c_str());
      Check(l_sz != nullptr && l_sValue == l_sz);
    }
  } else {
    if (OsCfgProfileImageDelete(s_acImage, l_sSection.c_str(), l_sKey.c_str()))
      Check(OsCfgProfileImageLength(s_acImage) < l_sizetLength);
    else
      Check(OsCfgProfileImageLength(s_acImage) == l_sizetLength);
  }
  CheckSound(s_acImage, a_sizetCapacity);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* a_pu8Data, std::size_t a_sizetData) {
  if (a_sizetData < 2) return 0;
  const std::size_t l_sizetCapacity = 8 + static_cast<std::size_t>(a_pu8Data[0]) * 16;
  const std::size_t l_sizetSteps = a_pu8Data[1] % (OS_FUZZ_MAX_STEPS + 1);
  std::memset(s_acImage, 'q', sizeof(s_acImage));
  OsCfgProfileImageMake(s_acImage, l_sizetCapacity, reinterpret_cast<const char*>(a_pu8Data + 2), a_sizetData - 2);
  CheckSound(s_acImage, l_sizetCapacity);

  CScript l_script(a_pu8Data + 2, a_sizetData - 2);
  for (std::size_t l_sizet = 0; l_sizet < l_sizetSteps; ++l_sizet) Step(&l_script, l_sizetCapacity);

  // The text, through the buffer and through the sink alike.
  std::size_t l_sizetText = 0;
  Check(OsCfgProfileImageText(s_acImage, s_acText, sizeof(s_acText), &l_sizetText) == OS_STS_SUCCESS);
  Check(l_sizetText <= OsCfgProfileImageTextBound(l_sizetCapacity));
  std::string l_sSink;
  Check(OsCfgProfileImageSerialise(s_acImage, Sink, &l_sSink) == OS_STS_SUCCESS);
  Check(l_sSink.size() == l_sizetText && std::memcmp(l_sSink.data(), s_acText, l_sizetText) == 0);

  // Made again with room for the whole text: the same lines. A first line
  // that begins with the bytes of a byte-order mark loses them (the read
  // skips them), and the line itself when nothing else was in it.
  OsCfgProfileImageMake(s_acAgain, l_sizetText, s_acText, l_sizetText);
  CheckSound(s_acAgain, l_sizetText);
  const char* l_acExpected = s_acImage;
  std::size_t l_sizetExpected = OsCfgProfileImageLength(s_acImage);
  if (l_sizetExpected >= 3 && std::memcmp(s_acImage, "\xEF\xBB\xBF", 3) == 0) {
    l_acExpected += 3;
    l_sizetExpected -= 3;
    if (l_acExpected[0] == 0) {
      ++l_acExpected;
      --l_sizetExpected;
    }
  }
  Check(OsCfgProfileImageLength(s_acAgain) == l_sizetExpected);
  Check(std::memcmp(s_acAgain, l_acExpected, l_sizetExpected) == 0);
  if (l_acExpected == s_acImage) {
    std::size_t l_sizetTextAgain = 0;
    Check(OsCfgProfileImageText(s_acAgain, s_acTextAgain, sizeof(s_acTextAgain), &l_sizetTextAgain) == OS_STS_SUCCESS);
    Check(l_sizetTextAgain == l_sizetText && std::memcmp(s_acTextAgain, s_acText, l_sizetText) == 0);
  }
  return 0;
}
