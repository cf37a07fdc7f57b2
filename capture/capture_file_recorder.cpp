#include "capture/capture_file_recorder.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "capture/capture_format.h"
#include "textfile/regular_file.h"
#include "textfile/text_lines.h"

namespace norva {

namespace {

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A rename is durable once the folder that holds the name is.
void SyncFolder(const std::string& path) {
    const UniqueFd folder(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.valid()) (void)::fsync(folder.get());
}

Result<UniqueFd> CreateBeside(const std::string& target, std::string& temp) {
    static std::atomic<unsigned> counter{0};
    const std::size_t slash = target.rfind('/');
    const std::string stem =
        (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + "." +
        target.substr(slash + 1) + ".";
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = stem + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
        UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666));
        if (fd.valid()) return fd;
        if (errno != EEXIST) return Result<UniqueFd>::Failed({}, errno);
    }
    return Result<UniqueFd>::Failed({}, EEXIST);
}

std::string Header(const PortIdentity* port) {
    std::string text(kCaptureHeader);
    text += '\n';
    if (port) AppendPortLine(text, *port);
    return text;
}

}  // namespace

Result<std::unique_ptr<CaptureFileRecorder>> CaptureFileRecorder::Start(Setup setup) {
    // A file size limit must fail the write, not end the process.
    ::signal(SIGXFSZ, SIG_IGN);
    const std::string& name = setup.fileName;
    const auto refused = [&name](int osError, std::string reason = {}) {
        return Result<std::unique_ptr<CaptureFileRecorder>>::Failed(CannotCreateText(name), osError,
                                                                    std::move(reason));
    };
    std::string target = name;
    struct stat old {};
    const bool exists = ::stat(name.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) return refused(errno);
    if (exists) {
        for (const ProtectedFile& file : setup.protectedFiles) {
            struct stat st {};
            if (!file.path.empty() && ::stat(file.path.c_str(), &st) == 0 && SameFile(st, old))
                return refused(0, "it is " + file.what);
        }
        if (!S_ISREG(old.st_mode)) return refused(0, FileKindText(old.st_mode));
        if ((old.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return refused(EACCES);
        if (::access(name.c_str(), W_OK) != 0) return refused(errno);
        // What a symbolic link points at is replaced, not the link.
        char resolved[PATH_MAX];
        if (::realpath(name.c_str(), resolved) != nullptr) target = resolved;
    }
    std::string temp;
    Result<UniqueFd> fd = CreateBeside(target, temp);
    if (!fd.ok()) return refused(fd.osError());
    if (exists) {
        (void)::fchmod(fd->get(), old.st_mode & 07777);
        (void)!::fchown(fd->get(), old.st_uid, old.st_gid);
    }
    const std::string header = Header(setup.currentPort);
    std::unique_ptr<CaptureFileRecorder> recorder(
        new CaptureFileRecorder(std::move(setup), std::move(target), temp, std::move(fd).value()));
    // On failure the recorder goes, and with it the temporary file.
    if (Outcome written = recorder->Append(header); !written.ok()) return written;
    return recorder;
}

CaptureFileRecorder::CaptureFileRecorder(Setup setup, std::string target, std::string temp,
                                         UniqueFd fd)
    : setup_(std::move(setup)),
      target_(std::move(target)),
      temp_(std::move(temp)),
      fd_(std::move(fd)) {
    if (setup_.currentPort) AppendPortLine(queuedPort_, *setup_.currentPort);
    writtenPort_ = queuedPort_;
}

CaptureFileRecorder::~CaptureFileRecorder() {
    (void)Stop();
}

void CaptureFileRecorder::PortOpened(std::int64_t, const PortIdentity& port) {
    std::string line;
    AppendPortLine(line, port);
    Hand(line, &line);
}

void CaptureFileRecorder::Received(std::int64_t firstByteUnixMicros,
                                   std::span<const std::uint8_t> block) {
    if (block.empty()) return;
    std::string line;
    AppendReceivedLine(line, firstByteUnixMicros, block);
    Hand(std::move(line), nullptr);
}

void CaptureFileRecorder::Sent(std::int64_t unixMicros, std::uint8_t byte) {
    std::string line;
    AppendSentLine(line, unixMicros, byte);
    Hand(std::move(line), nullptr);
}

void CaptureFileRecorder::Comment(std::string_view text) {
    std::string line;
    AppendCommentLine(line, text);
    Hand(std::move(line), nullptr);
}

void CaptureFileRecorder::Hand(std::string lines, const std::string* portLine) {
    Outcome overflow;
    {
        std::lock_guard lock(mutex_);
        if (!accepting_) return;
        if (waiting_.size() + lines.size() > kMaxWaitingBytes) {
            overflow = WriteFailure(0, "the disk took nothing for too long");
            failure_ = overflow;
            accepting_ = false;
            waiting_.clear();
        } else {
            waiting_ += lines;
            if (portLine) queuedPort_ = *portLine;
        }
    }
    if (!overflow.ok())
        Tell({true, overflow.Describe()});
    else
        wake_.notify_one();
}

Outcome CaptureFileRecorder::Commit() {
    std::unique_lock lock(mutex_);
    if (!accepting_ || committed_) return failure_;
    const std::string batch = std::move(waiting_);
    waiting_.clear();
    writtenPort_ = queuedPort_;
    lock.unlock();
    Outcome done = Append(batch);
    if (done.ok()) done = Sync();
    if (done.ok() && ::rename(temp_.c_str(), target_.c_str()) != 0)
        done = Outcome::Failed(CannotCreateText(fileName()), errno);
    lock.lock();
    if (!done.ok()) {
        failure_ = done;
        accepting_ = false;
        return done;
    }
    SyncFolder(target_);
    committed_ = true;
    writer_ = std::thread(&CaptureFileRecorder::Run, this);
    return {};
}

Outcome CaptureFileRecorder::Stop() {
    {
        std::lock_guard lock(mutex_);
        accepting_ = false;
    }
    wake_.notify_one();
    if (writer_.joinable()) writer_.join();
    if (!committed_ && !temp_.empty()) ::unlink(temp_.c_str());
    temp_.clear();
    std::lock_guard lock(mutex_);
    if (fd_.valid() && ::close(fd_.Release()) != 0 && failure_.ok()) failure_ = WriteFailure(errno);
    return failure_;
}

bool CaptureFileRecorder::recording() const {
    std::lock_guard lock(mutex_);
    return accepting_;
}

Outcome CaptureFileRecorder::failure() const {
    std::lock_guard lock(mutex_);
    return failure_;
}

// The writer: each batch as soon as it is handed over, a sync once the oldest unsynced line is
// syncWithin old (so a flood costs a few syncs a second, not one a line), and a last one on stop.
void CaptureFileRecorder::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        const auto ready = [this] { return !accepting_ || !waiting_.empty(); };
        if (unsynced_)
            wake_.wait_until(lock, syncDue_, ready);
        else
            wake_.wait(lock, ready);
        const std::string batch = std::move(waiting_);
        waiting_.clear();
        const std::string portAtStart = std::exchange(writtenPort_, queuedPort_);
        const bool last = !accepting_;
        lock.unlock();
        Outcome done;
        if (!batch.empty()) {
            done = StartAgainIfGone(portAtStart);
            if (done.ok()) done = Append(batch);
        }
        if (done.ok() && unsynced_ && (last || Clock::now() >= syncDue_)) done = Sync();
        lock.lock();
        if (!done.ok() && failure_.ok()) {
            failure_ = done;
            accepting_ = false;
            waiting_.clear();
            lock.unlock();
            Tell({true, done.Describe()});
            return;
        }
        if (last) return;
    }
}

Outcome CaptureFileRecorder::Append(std::string_view text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd_.get(), text.data() + done, text.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        const int error = n < 0 ? errno : ENOSPC;
        // Whole lines or nothing: a cut line would read back as a shorter block.
        const std::size_t keep = done == 0 ? 0 : text.rfind('\n', done - 1) + 1;
        fileBytes_ += keep;
        (void)::ftruncate(fd_.get(), static_cast<off_t>(fileBytes_));
        return WriteFailure(error);
    }
    fileBytes_ += done;
    if (!unsynced_ && done > 0) {
        unsynced_ = true;
        syncDue_ = Clock::now() + setup_.syncWithin;
    }
    return {};
}

Outcome CaptureFileRecorder::Sync() {
    if (!unsynced_) return {};
    if (::fdatasync(fd_.get()) != 0 && errno != EINVAL) return WriteFailure(errno);
    unsynced_ = false;
    ++syncs_;
    return {};
}

// Deleted (no link left) or moved away (the name names another file or none): the file is
// started again under its name, with the header and the port the next lines ran on.
Outcome CaptureFileRecorder::StartAgainIfGone(const std::string& portLine) {
    struct stat ours {
    }, named{};
    if (::fstat(fd_.get(), &ours) != 0) return WriteFailure(errno);
    const bool deleted = ours.st_nlink == 0;
    if (!deleted && ::stat(target_.c_str(), &named) == 0 && SameFile(ours, named)) return {};
    const std::string what = deleted ? "deleted" : "moved away";
    (void)Sync();  // a file moved away keeps what it got
    UniqueFd fresh(
        ::open(target_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666));
    if (!fresh.valid()) {
        const int error = errno;
        return WriteFailure(error, what + " while recording, and " +
                                       (error == EEXIST ? "another file took its name"
                                                        : "could not be made again: " +
                                                              std::string(std::strerror(error))));
    }
    fd_ = std::move(fresh);
    fileBytes_ = 0;
    unsynced_ = false;
    ++restarts_;
    if (Outcome header = Append(Header(nullptr) + portLine); !header.ok()) return header;
    SyncFolder(target_);
    Tell({false, fileName() + ": " + what + " while recording; started again"});
    return {};
}

Outcome CaptureFileRecorder::WriteFailure(int osError, std::string reason) const {
    return Outcome::Failed(std::string(kStreamWriteErrorText) + ": " + fileName(), osError,
                           std::move(reason));
}

void CaptureFileRecorder::Tell(const RecorderNews& news) const {
    if (setup_.onNews) setup_.onNews(news);
}

}  // namespace norva
