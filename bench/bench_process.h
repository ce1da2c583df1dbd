#pragma once
// Whole processes timed from outside: what the user waits for when a command runs.
#include <string>
#include <vector>

namespace kgl::bench {

struct TProcessRun {
    double wall = 0;    // milliseconds from spawn to reaped
    double cpu = 0;     // user + system milliseconds of the process and its reaped children
    double peakMB = 0;  // largest resident set of the process or of any child it reaped
    bool ok = false;    // exit status 0
};

// Runs argv[0] with argv, standard output and error thrown away.
TProcessRun RunProcess(const std::vector<std::string>& argv);

// The median of values (0 when empty) and the largest of them.
double Median(std::vector<double> values);
double Largest(const std::vector<double>& values);

}  // namespace kgl::bench
