#include "link/FileTransfer.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <span>
#include <system_error>
#include <utility>

#include "link/Link.h"

namespace qv {

FileTransfer::~FileTransfer() {
    Stop();
}

int FileTransfer::Upload(std::uint8_t code, const std::uint8_t* data, int length) {
    Stop();
    uploadSent_.store(0);
    uploadTotal_.store(length < 0 ? 0 : length);
    uploadFailed_.store(false);
    if (length < 0 || (length > 0 && data == nullptr)) {
        return 0;
    }
    const std::span<const std::uint8_t> bytes(data, static_cast<std::size_t>(length));
    if (length < kUploadSingleFrameBelow) {
        const int ok = link_.Send(RequestFrame(code, bytes));
        if (ok) {
            uploadSent_.store(length);
        } else {
            uploadFailed_.store(true);
        }
        return ok;
    }
    // count is one byte: an upload needing more than 255 frames cannot be numbered.
    if (static_cast<std::size_t>(length) / kUploadChunk + 1 > 255) {
        link_.SetErrorText("STR_ERROR_PACKET");
        return 0;
    }
    uploadStop_.store(false);
    // The caller's buffer need not outlive the call.
    std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());
    try {
        uploadThread_ = std::thread(&FileTransfer::UploadWorker, this, code, std::move(copy));
    } catch (const std::system_error&) {
        return 0;
    }
    return 1;
}

void FileTransfer::UploadWorker(std::uint8_t code, std::vector<std::uint8_t> data) {
    const std::size_t n = data.size() / kUploadChunk;
    const auto count = static_cast<std::uint8_t>(n + 1);
    for (std::size_t i = 0; i <= n && !uploadStop_.load(); ++i) {
        const std::size_t offset = kUploadChunk * i;
        const std::size_t size = i < n ? kUploadChunk : data.size() % kUploadChunk;
        const LinkFrame frame{kCmdRequest, code, std::span(data.data() + offset, size), count,
                              static_cast<std::uint8_t>(i)};
        if (!link_.Send(frame)) {
            uploadFailed_.store(true);
            break;
        }
        if (i < n) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        uploadSent_.fetch_add(static_cast<std::int64_t>(size));
    }
}

int FileTransfer::UploadProgress() {
    if (uploadFailed_.load()) {
        link_.SetErrorText("STR_ERROR_TIMEOUT");
        return -1;
    }
    const std::int64_t total = uploadTotal_.load();
    if (total <= 0) {
        return 100;
    }
    return static_cast<int>(uploadSent_.load() * 100 / total);
}

void FileTransfer::Stop() {
    if (uploadThread_.joinable() && uploadThread_.get_id() != std::this_thread::get_id()) {
        uploadStop_.store(true);
        uploadThread_.join();
    }
}

void FileTransfer::Init() {
    if (entries_.empty()) {
        entries_.assign(kEntryTableSize, FileEntry{});
    }
}

void FileTransfer::LoadEntryTable(const std::uint8_t* data, std::size_t length) {
    Init();
    entryCount_ = std::min(length / kFileEntrySize, kEntryTableSize);
    for (std::size_t i = 0; i < entryCount_; ++i) {
        std::memcpy(entries_[i].data(), data + i * kFileEntrySize, kFileEntrySize);
    }
}

const FileEntry* FileTransfer::GetEntry(int i) const {
    if (i < 0 || static_cast<std::size_t>(i) >= entryCount_) {
        return nullptr;
    }
    return &entries_[static_cast<std::size_t>(i)];
}

}  // namespace qv
