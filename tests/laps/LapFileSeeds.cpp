#include "tests/laps/LapFileSeeds.h"

#include <QLocale>

#include <cmath>

#include "laps/LapFile.h"

namespace quorvex::laps {

std::vector<QByteArray> LapFileSeeds() {
  const LapFile three{{"/m/1.mp4", "/m/a&b.avi", "/m/3.mkv"},
                      {{10, 15, 20.125, 1e-5}, {20, 26, 33.3, 1e15}, {30, 35.5, -1, 1.0 / 3}}};
  return {
      LapFileBytes(three, QLocale::c()),
      LapFileBytes(three, QLocale(QLocale::German, QLocale::Germany)),
      LapFileBytes(LapFile{{"x"}, {{0}}}, QLocale::c()),
      "<QuorvexLapFile><lap><list><list> 1,234.5 </list></list></lap>"
      "<file_name><list><![CDATA[a]]></list></file_name></QuorvexLapFile>",
      "<!DOCTYPE r [<!ENTITY e \"1\">]><QuorvexLapFile><file_name><list>&e;</list>"
      "</file_name><lap><list><list>&e;</list></list></lap></QuorvexLapFile>",
      "<QuorvexLapFile><!--c--><file_name><list>a</list></file_name><lap><list><list>1"
      "</list></list></lap></QuorvexLapFile>",
      "<QuorvexLapFile><file_name><list><b/></list></file_name><lap><list><list>1,5</list>"
      "</list><list><list>2</list></list></lap></QuorvexLapFile>",
      "<a><QuorvexLapFile><file_name/><lap/></QuorvexLapFile><QuorvexLapFile/></a>",
  };
}

bool IsSoundReadResult(const LapFileReadResult& result) {
  if (!result.file)
    return !result.error.isEmpty();
  const LapFile& f = *result.file;
  if (f.file_names.isEmpty() || f.time_list.size() != size_t(f.file_names.size()))
    return false;
  for (const std::vector<double>& list : f.time_list) {
    if (list.empty() || list.size() != f.time_list.front().size())
      return false;
    for (double v : list) {
      if (!std::isfinite(v))
        return false;
    }
  }
  return true;
}

}  // namespace quorvex::laps
