#include "FileOperation.h"

namespace kestrawin::operations {

FileOutcome ProcessFile(Direction direction, const KeyContainer& keys, const std::string& path,
                        const std::string& password, const OperationOptions& options, bool keepInput)
{
    FileOutcome done;
    done.path = path;
    const Result r = direction == Direction::Encrypt ? EncryptSelectedFile(keys, path, password, options)
                                                     : DecryptSelectedFile(path, password, options);
    done.outcome = r.outcome;
    done.detail = r.detail;
    // Only after success, and only once the output is safely on disk (the
    // engine returns success no earlier), the input goes.
    if (r.ok() && !keepInput) {
        const Result removed = RemoveInputFile(path);
        done.inputRemoved = removed.ok();
        done.keptReason = removed.ok() ? std::string() : DescribeResult(removed);
    }
    return done;
}

} // namespace kestrawin::operations
