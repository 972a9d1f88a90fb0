// The transfer dialog's side of the link: the upload, sent frame by frame on a thread of its
// own while the dialog polls its progress, and the table of file entries a list answer fills.
// Every frame goes out through the Link, so an upload never cuts into another exchange.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <vector>

#include "link/CommandSet.h"
#include "link/FrameCodec.h"

namespace qv {

class Link;

inline constexpr std::size_t kEntryTableSize = 400;

class FileTransfer {
  public:
    explicit FileTransfer(Link& link) : link_(link) {}
    // Stops and joins the upload.
    ~FileTransfer();
    FileTransfer(const FileTransfer&) = delete;
    FileTransfer& operator=(const FileTransfer&) = delete;

    static constexpr std::size_t kUploadChunk = kMaxPayload;
    static constexpr int kUploadSingleFrameBelow = 1024;

    // Sends length bytes as the request code: below kUploadSingleFrameBelow in one frame at
    // once, otherwise numbered chunks on the upload thread (the bytes are copied first). An
    // upload still running is stopped first. 1 started or sent; 0 not (error text set on the
    // link where there is one).
    int Upload(std::uint8_t code, const std::uint8_t* data, int length);
    // The upload's progress: 0..100 percent sent, -1 when a send failed (error text set).
    int UploadProgress();
    // Stops the upload and waits for its thread; from any thread but the upload's own.
    void Stop();

    // The table starts empty; the first use makes room for kEntryTableSize records.
    void Init();
    // Copies a list answer (FileEntry records) into the table, cut at kEntryTableSize.
    void LoadEntryTable(const std::uint8_t* data, std::size_t length);
    void ClearEntryTable() { entryCount_ = 0; }
    int EntryCount() const { return static_cast<int>(entryCount_); }
    // Record i; null when i is out of range.
    const FileEntry* GetEntry(int i) const;

  private:
    void UploadWorker(std::uint8_t code, std::vector<std::uint8_t> data);

    Link& link_;
    std::vector<FileEntry> entries_;
    std::size_t entryCount_ = 0;

    std::thread uploadThread_;
    std::atomic<bool> uploadStop_{false};
    std::atomic<bool> uploadFailed_{false};
    std::atomic<std::int64_t> uploadSent_{0};
    std::atomic<std::int64_t> uploadTotal_{0};
};

}  // namespace qv
