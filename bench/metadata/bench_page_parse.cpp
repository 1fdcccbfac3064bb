// CPU time and peak memory of reading one hostile page: the head parse and the description
// scrape as the fetcher runs them, and, for comparison, an HTML parser given the whole page.
// Each measurement runs in a child process of its own, so that a parser that blows up takes
// only the child with it and the peak memory is that of the one page.
#include "metadata/HeadMarkup.h"
#include "metadata/HostilePages.h"
#include "metadata/MetadataFetcher.h"
#include "metadata/PageHead.h"

#include <QUrl>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <gumbo.h>
#include <signal.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
constexpr double cpuGoalMs = 200;
constexpr double memoryGoalMb = 64;
constexpr int repeats = 3;

double cpuMs(const rusage &usage)
{
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

long statusKb(const char *field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::strlen(field));
    }
    return 0;
}

// Resets the peak resident size to the current one (Linux 4.0 and later).
bool resetPeak()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return bool(clear);
}

struct Measure
{
    bool ok = false;
    double cpuMs = 0; // the worst of the repeats
    double peakMb = 0; // above what the process held before
    long extra = 0; // what the pass reports of itself
    std::string failure;
};

// Runs pass in a child; the child reports its worst CPU time and its peak above the start.
Measure inChild(const std::function<long()> &pass, int times, rlim_t cpuLimitSeconds, rlim_t memoryLimit)
{
    int fds[2];
    if (pipe(fds) != 0)
        return { false, 0, 0, 0, "pipe failed" };
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        if (cpuLimitSeconds) {
            const rlimit cpu { cpuLimitSeconds, cpuLimitSeconds };
            setrlimit(RLIMIT_CPU, &cpu);
        }
        if (memoryLimit) {
            const rlimit memory { memoryLimit, memoryLimit };
            setrlimit(RLIMIT_AS, &memory);
        }
        const bool peakReset = resetPeak();
        const long before = peakReset ? statusKb("VmRSS:") : statusKb("VmHWM:");
        double worst = 0;
        long extra = 0;
        for (int i = 0; i < times; ++i) {
            rusage start {}, end {};
            getrusage(RUSAGE_SELF, &start);
            extra = pass();
            getrusage(RUSAGE_SELF, &end);
            worst = std::max(worst, cpuMs(end) - cpuMs(start));
        }
        const double peak = double(statusKb("VmHWM:") - before) / 1024.0;
        char line[128];
        const int n = std::snprintf(line, sizeof line, "%f %f %ld\n", worst, peak, extra);
        [[maybe_unused]] const ssize_t written = write(fds[1], line, size_t(n));
        _exit(0);
    }
    close(fds[1]);
    char buffer[128] = {};
    const ssize_t n = read(fds[0], buffer, sizeof buffer - 1);
    close(fds[0]);
    int status = 0;
    rusage usage {};
    wait4(child, &status, 0, &usage);
    Measure measure;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && n > 0) {
        measure.ok = std::sscanf(buffer, "%lf %lf %ld", &measure.cpuMs, &measure.peakMb, &measure.extra) == 3;
        return measure;
    }
    measure.cpuMs = cpuMs(usage);
    measure.peakMb = usage.ru_maxrss / 1024.0;
    if (WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        measure.failure = sig == SIGXCPU || sig == SIGKILL ? "out of CPU time"
            : sig == SIGSEGV                               ? "crashed (stack overflow)"
            : sig == SIGABRT                               ? "aborted (out of memory)"
                                                           : std::string("killed by ") + strsignal(sig);
    } else {
        measure.failure = "failed";
    }
    return measure;
}

std::string cell(const Measure &m, bool withinGoal)
{
    char text[96];
    if (!m.ok)
        std::snprintf(text, sizeof text, "%s after %.0f ms, %.0f MB", m.failure.c_str(), m.cpuMs, m.peakMb);
    else
        std::snprintf(
            text, sizeof text, "%.1f ms, %.1f MB%s", m.cpuMs, m.peakMb, withinGoal ? "" : " (over)");
    return text;
}

bool withinGoals(const Measure &m)
{
    return m.ok && m.cpuMs < cpuGoalMs && m.peakMb < memoryGoalMb;
}
} // namespace

int main(int argc, char **argv)
{
    // The comparison costs minutes of CPU, so it is asked for.
    const bool compare = argc > 1 && std::strcmp(argv[1], "--compare") == 0;
    const qsizetype size = MetadataFetcher::maxPageBytes;
    const QUrl base(QStringLiteral("https://example.test/"));
    const QList<HostilePages::Page> pages = HostilePages::all(size);

    std::printf("Reading one %lld-byte page; worst of %d runs; goal: under %.0f ms CPU and %.0f MB each\n",
        qint64(size), repeats, cpuGoalMs, memoryGoalMb);
    if (compare)
        std::printf(
            "\"whole page\": the parser on the entire page with default options, limited to 10 s CPU and "
            "4 GB\n");
    std::printf("\n| %-30s | %12s | %-22s | %-22s |%s\n", "page", "parser bytes", "head parse",
        "description scrape", compare ? " whole page (before)                      |" : "");
    std::printf("|%s|%s|%s|%s|%s\n", std::string(32, '-').c_str(), std::string(14, '-').c_str(),
        std::string(24, '-').c_str(), std::string(24, '-').c_str(),
        compare ? std::string(42, '-').append("|").c_str() : "");

    int failures = 0;
    for (const HostilePages::Page &page : pages) {
        const QByteArray body = page.body;
        const Measure head = inChild(
            [&] {
                const PageHead parsed = PageHead::parse(body, "text/html", base);
                return long(parsed.cost.parserBytes);
            },
            repeats, 0, 0);
        const Measure scrape = inChild(
            [&] {
                const auto description = MetadataFetcher::pageDescription(body);
                return long(description ? description->size() : -1);
            },
            repeats, 0, 0);
        failures += withinGoals(head) && withinGoals(scrape) ? 0 : 1;
        std::printf("| %-30s | %12ld | %-22s | %-22s |", page.name, head.extra,
            cell(head, withinGoals(head)).c_str(), cell(scrape, withinGoals(scrape)).c_str());
        if (compare) {
            const Measure whole = inChild(
                [&] {
                    GumboOutput *output = gumbo_parse(body.constData());
                    gumbo_destroy_output(&kGumboDefaultOptions, output);
                    return 0L;
                },
                1, 10, rlim_t(4) << 30);
            std::printf(" %-40s |", cell(whole, true).c_str());
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    std::printf("\n%d of %lld pages over a goal%s\n", failures, qint64(pages.size()),
        compare ? "" : "; run with --compare to add the whole-page parse");
    return 0;
}
