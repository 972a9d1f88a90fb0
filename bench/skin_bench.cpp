// Skin figures: region build for the largest key image and for the whole skin, and the time
// from creating 40 skinned keys to their first paint.
#include <QApplication>
#include <QCoreApplication>
#include <QWidget>
#include <cstdio>
#include <vector>

#include "bench/BenchStats.h"
#include "widgets/BitmapToRegion.h"
#include "widgets/CTqButton.h"
#include "widgets/SkinCatalogue.h"
#include "widgets/SkinLibrary.h"

using qv::bench::Clock;
using qv::bench::Ms;
using qv::bench::Percentile;

namespace {

// Paints every key; counts the paints so the loop knows when all are on screen.
class CountingKey : public CTqButton {
  public:
    using CTqButton::CTqButton;
    int paints = 0;

  protected:
    void paintEvent(QPaintEvent* e) override {
        CTqButton::paintEvent(e);
        ++paints;
    }
};

void Report(const char* what, const std::vector<double>& ms) {
    std::printf("%-44s p50 %8.3f ms  p99 %8.3f ms  (n=%zu)\n", what, Percentile(ms, 50),
                Percentile(ms, 99), ms.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);

    // Largest key image by area (the hard-key Enter key, 175 x 47).
    const qv::skin::Entry* largest = nullptr;
    for (const auto& e : qv::skin::Catalogue()) {
        if (e.kind == qv::skin::Kind::Key &&
            (largest == nullptr || e.width * e.height > largest->width * largest->height)) {
            largest = &e;
        }
    }
    const QImage big = qv::SkinImage(largest->number);
    std::vector<double> one;
    for (int i = 0; i < 2000; ++i) {
        const auto t0 = Clock::now();
        const auto r = qv::BitmapToRegion(big);
        one.push_back(Ms(Clock::now() - t0));
        if (!r) {
            return 1;
        }
    }
    char label[96];
    std::snprintf(label, sizeof label, "region, largest key %d (%dx%d)", largest->number,
                  largest->width, largest->height);
    Report(label, one);

    // Every image of the skin, backgrounds included, as if each were a shaped key.
    std::vector<QImage> all;
    std::vector<QImage> keys;
    for (const auto& e : qv::skin::Catalogue()) {
        all.push_back(qv::SkinImage(e.number));
        if (e.kind == qv::skin::Kind::Key) {
            keys.push_back(all.back());
        }
    }
    for (const auto* set : {&keys, &all}) {
        std::vector<double> whole;
        long rects = 0;
        for (int i = 0; i < 20; ++i) {
            const auto t0 = Clock::now();
            rects = 0;
            for (const QImage& image : *set) {
                rects += qv::BitmapToRegion(image)->rectCount();
            }
            whole.push_back(Ms(Clock::now() - t0));
        }
        std::snprintf(label, sizeof label, "regions, %s (%zu images, %ld rects)",
                      set == &keys ? "every key image" : "whole skin", set->size(), rects);
        Report(label, whole);
    }

    // 40 keys: create, load four images each, show, until each has painted once.
    std::vector<double> firstPaint;
    const auto& hard = qv::skin::kHardKeys;
    for (int round = 0; round < 30; ++round) {
        qv::ClearSkinCache();  // decode included, as at start-up
        const auto t0 = Clock::now();
        QWidget panel;
        panel.resize(1023, 679);
        std::vector<CountingKey*> made;
        for (int i = 0; i < 40; ++i) {
            const auto& k = hard[static_cast<std::size_t>(i) % hard.size()];
            auto* key = new CountingKey(&panel);
            key->move(k.x + (i >= 28 ? 8 : 0), k.y);
            const auto& ids = k.sets[0].ids;
            key->LoadBitmaps(ids[0], ids[1], ids[2], ids[3]);
            made.push_back(key);
        }
        panel.show();
        const auto allPainted = [&] {
            for (const auto* k : made) {
                if (k->paints == 0) {
                    return false;
                }
            }
            return true;
        };
        while (!allPainted()) {
            QCoreApplication::processEvents();
        }
        firstPaint.push_back(Ms(Clock::now() - t0));
    }
    Report("40 keys: create + load + first paint", firstPaint);
    return 0;
}
