#pragma once
// Chart.js (Debian's libjs-chart.js, its minified build) and the package's
// copyright file, taken into the programs when they are built: the page
// carries the script itself, and a Windows PC has no such file to read.
#include <cstddef>

namespace veldrix {

extern const char kChartJs[];
extern const size_t kChartJsSize;
extern const char kChartJsLicence[];
extern const size_t kChartJsLicenceSize;

}  // namespace veldrix
