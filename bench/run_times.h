// A console reporter that also keeps each benchmark's real time (the median
// when repeated, else the single run), so a program can print its figures as
// ratios to a baseline measured in the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

class RunTimesReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const std::string name = run.run_name.str();
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                medians_[name] = run.GetAdjustedRealTime();
            else if (run.run_type == Run::RT_Iteration)
                times_[name] = run.GetAdjustedRealTime();
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const auto& [name, t] : medians_) times_[name] = t;
        PrintRatios();
    }

  protected:
    // Real time of a benchmark by its full name ("Memcpy/8/real_time"); 0 when absent.
    double Time(const std::string& name) const {
        const auto it = times_.find(name);
        return it == times_.end() ? 0.0 : it->second;
    }
    virtual void PrintRatios() = 0;

  private:
    std::map<std::string, double> times_, medians_;
};
