// Load throughput of the XML reader on an 8 MB task-style document (nested
// elements, single-quoted properties, CDATA), loaded again and again into one
// reused object, with two peer parsers on the same text in the same run:
// pugixml parsing in place with its default flags, and expat with no-op
// handlers. Prints one line per parser and the ratios.
#include <expat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "os_cosxml.h"
#include "os_cosxml_impl.h"

namespace {

// Tasks until the text reaches a_sizetTarget bytes.
std::string TaskDocument(std::size_t a_sizetTarget) {
  std::string l_s = "<?xml version='1.0' encoding='UTF-8'?>\n<tasks version='3' origin='dirwarden-bench'>\n";
  unsigned l_uSeed = 12345;
  auto l_next = [&l_uSeed]() {
    l_uSeed = l_uSeed * 1103515245u + 12345u;
    return (l_uSeed >> 16) & 0x7fff;
  };
  char l_sz[512];
  for (int l_iTask = 0; l_s.size() < a_sizetTarget; ++l_iTask) {
    std::snprintf(l_sz, sizeof(l_sz),
                  "  <task id='%d' kind='scan' priority='%u' owner='user%u'>\n"
                  "    <source device='scanner-%u' path='C:\\in\\batch_%d' duplex='1'/>\n"
                  "    <pages>\n",
                  l_iTask, l_next() % 5, l_next() % 100, l_next() % 16, l_iTask);
    l_s += l_sz;
    const unsigned l_uPages = 1 + l_next() % 6;
    for (unsigned l_u = 0; l_u < l_uPages; ++l_u) {
      std::snprintf(l_sz, sizeof(l_sz),
                    "      <page n='%u' width='2480' height='3508' dpi='300'>\n"
                    "        <image format='tiff' compression='group4' bytes='%u'/>\n"
                    "        <text><![CDATA[Page %u of task %d: total < 100 & margin > 5, \"quoted\" text]]></text>\n"
                    "        <barcode type='qr'>QRX-%05u-%04u</barcode>\n"
                    "      </page>\n",
                    l_u + 1, 10000 + l_next() * 7, l_u + 1, l_iTask, l_next(), l_next() % 10000);
      l_s += l_sz;
    }
    std::snprintf(l_sz, sizeof(l_sz),
                  "    </pages>\n"
                  "    <output dir='C:\\out\\%d' name='doc_%d.pdf' format='pdf'/>\n"
                  "    <note>plain text note for task %d</note>\n"
                  "  </task>\n",
                  l_iTask % 100, l_iTask, l_iTask);
    l_s += l_sz;
  }
  l_s += "</tasks>\n";
  return l_s;
}

// The best of a_iRounds rounds of a_iLoads runs, in MB/s (10^6 bytes).
double Measure(std::size_t a_sizetBytes, int a_iRounds, int a_iLoads, const std::function<void()>& a_prepare,
               const std::function<bool()>& a_run) {
  double l_dBest = 0;
  for (int l_iRound = 0; l_iRound < a_iRounds; ++l_iRound) {
    double l_dSeconds = 0;
    for (int l_i = 0; l_i < a_iLoads; ++l_i) {
      a_prepare();
      const auto l_start = std::chrono::steady_clock::now();
      if (!a_run()) {
        std::fprintf(stderr, "a parse failed\n");
        std::exit(1);
      }
      l_dSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - l_start).count();
    }
    l_dBest = std::max(l_dBest, static_cast<double>(a_sizetBytes) * a_iLoads / l_dSeconds / 1e6);
  }
  return l_dBest;
}

void XMLCALL NoStart(void*, const XML_Char*, const XML_Char**) {}
void XMLCALL NoEnd(void*, const XML_Char*) {}
void XMLCALL NoText(void*, const XML_Char*, int) {}

}  // namespace

int main(int a_iArgs, char** a_pszArgs) {
  const int l_iLoads = a_iArgs > 1 ? std::atoi(a_pszArgs[1]) : 20;
  const int l_iRounds = 5;
  const std::string l_sDocument = TaskDocument(8u << 20);
  const std::size_t l_sizet = l_sDocument.size();

  COsXml l_osxml;
  const double l_dOs = Measure(
      l_sizet, l_iRounds, l_iLoads, [] {},
      [&] { return l_osxml.Load(l_sDocument.data(), static_cast<std::int32_t>(l_sizet)) == OS_STS_SUCCESS; });
  const std::int32_t l_lAtoms = l_osxml.m_posxmlimpl->m_lAtomsInUse;

  // In place: the buffer is refilled before each parse, outside the timing.
  std::vector<char> l_vecInPlace(l_sizet);
  pugi::xml_document l_pugidoc;
  const double l_dPugi = Measure(
      l_sizet, l_iRounds, l_iLoads, [&] { std::memcpy(l_vecInPlace.data(), l_sDocument.data(), l_sizet); },
      [&] { return static_cast<bool>(l_pugidoc.load_buffer_inplace(l_vecInPlace.data(), l_sizet)); });

  XML_Parser l_parser = XML_ParserCreate(nullptr);
  const double l_dExpat = Measure(
      l_sizet, l_iRounds, l_iLoads,
      [&] {
        XML_ParserReset(l_parser, nullptr);
        XML_SetElementHandler(l_parser, NoStart, NoEnd);
        XML_SetCharacterDataHandler(l_parser, NoText);
      },
      [&] { return XML_Parse(l_parser, l_sDocument.data(), static_cast<int>(l_sizet), 1) == XML_STATUS_OK; });
  XML_ParserFree(l_parser);

  std::printf("document: %zu bytes, %d atoms, best of %d rounds of %d loads\n", l_sizet, static_cast<int>(l_lAtoms),
              l_iRounds, l_iLoads);
  std::printf("| parser | MB/s |\n|---|---|\n");
  std::printf("| COsXml::Load (reused object) | %.0f |\n", l_dOs);
  std::printf("| pugixml (in place, default flags) | %.0f |\n", l_dPugi);
  std::printf("| expat (no-op handlers) | %.0f |\n", l_dExpat);
  std::printf("COsXml / expat = %.2f (goal 5.00), COsXml / pugixml = %.2f (goal 0.60)\n", l_dOs / l_dExpat,
              l_dOs / l_dPugi);
  return 0;
}
