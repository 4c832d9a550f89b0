// SPDX-License-Identifier: Apache-2.0
// Parallel decryption through the file operations.

#include "Fixtures.h"

using namespace kestrawin;
using namespace kestrawin::ops;
using namespace kwtest;

// Through files: chunks split into parts, for ciphertexts that end just
// before, on and just after a chunk boundary.
class ParallelDecryption : public ScratchTest {};

TEST_F(ParallelDecryption, ParallelDecryptionOfFilesAroundChunkBoundaries)
{
    constexpr std::size_t kChunk = 512 * 1024;
    OperationOptions options;
    options.chunkSize = kChunk;
    for (std::size_t size : {kChunk - 9, kChunk - 8, kChunk - 1, kChunk, kChunk + 7, 2 * kChunk - 8,
                             2 * kChunk, 2 * kChunk + 1}) {
        const std::string plain = RandomBytes(size, static_cast<unsigned>(size));
        WriteFile(dir / "f", plain);
        ASSERT_TRUE(EncryptSelectedFile(SharedKeys(), dir / "f", "password", options).ok());
        for (unsigned threads : {1u, 2u, 3u}) {
            SCOPED_TRACE("size " + std::to_string(size) + ", threads " + std::to_string(threads));
            fs::remove(dir / "f");
            options.decryptThreads = threads;
            ASSERT_TRUE(DecryptSelectedFile(dir / "f.ksw", "password", options).ok());
            EXPECT_TRUE(ReadFile(dir / "f") == plain);
        }
    }
}
