#pragma once

#include <memory>
#include <string>

// What keeps the app to one running copy per user: a folder only this user can reach, and
// an exclusive lock on a file in it. The platform layer implements them.
namespace kltio {

// Whether path is a folder that only the calling user can reach: a real folder (not a
// link), owned by the user, closed to group and others. With create, a missing folder is
// first made with that access.
bool IsPrivateFolder(const std::string& path, bool create);

// Where a private folder of the user's own lives when the runtime folder cannot be used:
// "klt-<user id>" under the temporary folder.
std::string FallbackPrivateFolder();

// An exclusive lock on a file, held while the object lives. The system drops it when the
// process ends, so a copy that crashed blocks nobody.
class CInstanceLock {
public:
    enum class Result { Acquired, HeldByOther, Failed };
    virtual ~CInstanceLock() = default;

    // The lock on path (created when missing, never through a symbolic link); null unless
    // result is Acquired.
    static std::unique_ptr<CInstanceLock> TryAcquire(const std::string& path, Result& result);
};

} // namespace kltio
