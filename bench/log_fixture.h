// The log the ReadLogTail benchmarks read: 10 000 lines, 45 request records among the insert
// and remove lines, CR LF line ends.
#pragma once

#include <string>

namespace koba::bench {

inline std::string BenchLog() {
  std::string log;
  for (int i = 0; i < 10000; ++i) {
    if (i % 222 == 0) {
      log += "{\"requestId\":\"" + std::to_string(i) +
             "\",\"action\":\"GMUsbKeySign\",\"result\":\"0\"}\r\n";
    } else {
      log += (i % 2 != 0 ? "\"insert\"" : "\"remove\"");
      log += ":\"2016-03-07T09:05:01.042\"\r\n";
    }
  }
  return log;
}

}  // namespace koba::bench
