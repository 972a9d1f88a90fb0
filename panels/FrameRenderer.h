// Turns a frame file into the image a panel shows: decode, stretch or scale, and on the
// soft-key panel at 85 % and 70 % a scaled copy beside the frame file. Runs on the screen
// loop's worker; never touches a widget.
#pragma once

#include <QImage>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qv {

class FrameRenderer {
  public:
    // softKey: the soft-key panel's 800x600 frames at its scale; else 800x480.
    explicit FrameRenderer(bool softKey) : softKey_(softKey) {}

    // From the window thread while the worker renders.
    void SetScale(int scaleSetting) { scale_.store(scaleSetting); }
    QSize DrawnSize() const;
    // The finished frame, or nothing ("Image Load Failed" logged). bytes, when given, receives
    // the file's content the frame was decoded from.
    std::optional<QImage> Render(const std::string& path,
                                 std::vector<std::uint8_t>* bytes = nullptr) const;
    // Where the soft-key panel's scaled copy of a frame file goes.
    static std::string ScaledCopyPath(const std::string& path, int scaleSetting);

  private:
    bool softKey_;
    std::atomic<int> scale_{0};
};

}  // namespace qv
