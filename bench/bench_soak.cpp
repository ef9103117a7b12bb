// 10,000 refreshes through the real dialog and HTTP client, driven by the
// virtual clock, against a loopback server: how much resident memory and how
// many file descriptors the program gains.
#include <QApplication>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>

#include "app/updater_dlg.h"
#include "loopback_service.h"
#include "res/resource_ids.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace {

constexpr int kWarmUp = 200;
constexpr int kRefreshes = 10000;
constexpr std::int64_t kRefreshMs = 5 * 60000;
constexpr int kPort = 28248;

long ResidentKiB() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return 0;
}

long OpenDescriptors() {
    long count = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    LoopbackService service(kPort);

    testsupport::TempDir dir;
    testsupport::ScopedCurrentDir cwd(dir.Path());
    testsupport::WriteFile(dir.File("kestrome.cfg"),
                           "[Main]\nLogin=demo\nPassword=demo\n[Options]\nConnectOnStartUp=TRUE\n");
    testsupport::TestServices fakes;
    fakes.services.serviceHost = "127.0.0.1:" + std::to_string(kPort);
    CUpdaterDlg dlg(fakes.services);
    long rssBefore = 0, rssAfter = 0, fdsBefore = 0, fdsAfter = 0;
    QTimer::singleShot(0, [&] {
        for (int i = 0; i < kWarmUp; ++i) {
            fakes.timers.Advance(kRefreshMs);
        }
        rssBefore = ResidentKiB();
        fdsBefore = OpenDescriptors();
        for (int i = 0; i < kRefreshes; ++i) {
            fakes.timers.Advance(kRefreshMs);
        }
        rssAfter = ResidentKiB();
        fdsAfter = OpenDescriptors();
        dlg.EndDialog(0);
    });
    dlg.DoModal();
    std::cout << "refreshes " << kRefreshes << " rss_growth_kib " << (rssAfter - rssBefore)
              << " fd_growth " << (fdsAfter - fdsBefore) << std::endl;
    return 0;
}
