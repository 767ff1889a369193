// Reads, writes, size changes, flushes, attributes, times and the
// asynchronous reader of open IO objects.
#include "tests/plugin/LinkedPluginFixture.h"

using namespace zev::frame;
using namespace zev::wfsys;

namespace zev::test {
namespace {

class IoDataTest : public LinkedPluginTest {
protected:
    std::string ReadBack(hOBJ obj, std::uint64_t offset, std::uint32_t count, Result* result,
                         std::uint32_t* got = nullptr) {
        std::string bytes(count, '\xEE');
        std::uint32_t read = 0xdeadbeef;
        *result = ReadAt(obj, offset, bytes.data(), count, &read);
        if (got)
            *got = read;
        bytes.resize(read == 0xdeadbeef ? 0 : read);
        return bytes;
    }
};

TEST_F(IoDataTest, WriteReadResizeFlushAndClose) {
    const std::wstring path = dir / L"data.bin";
    hOBJ obj = OpenIo(path, kOpenAlways, fACCESS_READ | fACCESS_WRITE);
    std::uint32_t written = 0;
    ASSERT_EQ(WriteAt(obj, 0, "hello world", &written), errOK);
    EXPECT_EQ(written, 11u);
    EXPECT_EQ(Data(obj)->written, 1);
    // Beyond the end: the gap is filled with zero bytes.
    ASSERT_EQ(WriteAt(obj, 111, "tail", &written), errOK);
    EXPECT_EQ(Size(obj), 115u);
    Result r = 0;
    EXPECT_EQ(ReadBack(obj, 0, 11, &r), "hello world");
    EXPECT_EQ(r, errOK);
    EXPECT_EQ(ReadBack(obj, 11, 100, &r), std::string(100, '\0'));
    // A read that meets the end returns what is there and 0x41.
    EXPECT_EQ(ReadBack(obj, 105, 100, &r), std::string(6, '\0') + "tail");
    EXPECT_EQ(r, warnEOF);
    // Beyond the size: nothing, and the out count is still written.
    std::uint32_t got = 77;
    EXPECT_EQ(ReadBack(obj, 116, 10, &r, &got), "");
    EXPECT_EQ(r, errOUT_OF_RANGE);
    EXPECT_EQ(got, 0u);
    // Count 0 succeeds without buffer or checks.
    EXPECT_EQ(ReadAt(obj, 1u << 30, nullptr, 0, &got), errOK);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(ReadAt(obj, 0, nullptr, 1, &got), errPARAMETER_INVALID);
    char byte = 0;
    EXPECT_EQ(ReadAt(obj, 0x8000000000000000ull, &byte, 1, &got), errOBJECT_SEEK);

    EXPECT_EQ(Resize(obj, 5), errOK);
    EXPECT_EQ(Size(obj), 5u);
    EXPECT_EQ(Resize(obj, 8), errOK);
    EXPECT_EQ(Flush(obj), errOK);
    Close(obj);
    EXPECT_EQ(ReadFileBytes(path), std::string("hello\0\0\0", 8));
}

TEST_F(IoDataTest, AccessFlagsRefuseGrowth) {
    const std::wstring path = dir / L"flags.bin";
    WriteFileBytes(path, "0123456789");
    std::uint32_t written = 99;
    hOBJ noExtend = OpenIo(path, kOpenExisting, fACCESS_READ | fACCESS_WRITE | fACCESS_NO_EXTEND);
    EXPECT_EQ(WriteAt(noExtend, 20, "x", &written), errOBJECT_RESIZE);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(WriteAt(noExtend, 10, "ab", &written), errOK)
        << "appending at the end extends nothing";
    Close(noExtend);

    hOBJ noGrow = OpenIo(path, kOpenExisting, fACCESS_READ | fACCESS_WRITE | fACCESS_NO_GROW);
    EXPECT_EQ(WriteAt(noGrow, 12, "x", &written), errOBJECT_RESIZE);
    EXPECT_EQ(WriteAt(noGrow, 8, "ABCDEFGHIJ", &written), errOK);
    EXPECT_EQ(written, 4u) << "the write is cut to the room left";
    EXPECT_EQ(Resize(noGrow, 100), errOBJECT_BAD_STATE);
    Close(noGrow);

    hOBJ noShrink = OpenIo(path, kOpenExisting, fACCESS_READ | fACCESS_WRITE | fACCESS_NO_SHRINK);
    EXPECT_EQ(Resize(noShrink, 2), errOBJECT_BAD_STATE);
    Close(noShrink);
    EXPECT_EQ(ReadFileBytes(path), "01234567ABCD");

    hOBJ readOnly = OpenIo(path, kOpenExisting, fACCESS_READ);
    EXPECT_EQ(WriteAt(readOnly, 0, "x", &written), errOBJECT_READ_ONLY);
    EXPECT_EQ(Resize(readOnly, 1), errOBJECT_READ_ONLY);
}

TEST_F(IoDataTest, NoBufferingAsksTheFullCountNearTheEnd) {
    const std::wstring path = dir / L"nb.bin";
    WriteFileBytes(path, std::string(4096, 'z'));
    hOBJ obj = OpenIo(path, kOpenExisting, fACCESS_READ | fACCESS_NO_BUFFERING);
    std::vector<char> buffer(8192 + 4096);
    char* aligned = reinterpret_cast<char*>(
        (reinterpret_cast<std::uintptr_t>(buffer.data()) + 4095) & ~std::uintptr_t(4095));
    std::uint32_t got = 0;
    EXPECT_EQ(ReadAt(obj, 0, aligned, 8192, &got), warnEOF);
    EXPECT_EQ(got, 4096u);
}

TEST_F(IoDataTest, SizeWithHighWord) {
    const std::wstring path = dir / L"big.bin";
    {
        UniqueFile f(
            ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(f);
        LARGE_INTEGER at{};
        at.QuadPart = 0x1FFFFFFFFll; // low word 0xFFFFFFFF
        ASSERT_TRUE(::SetFilePointerEx(f.get(), at, nullptr, FILE_BEGIN));
        ASSERT_TRUE(::SetEndOfFile(f.get()));
    }
    hOBJ obj = OpenIo(path, kOpenExisting, fACCESS_READ);
    EXPECT_EQ(Size(obj), 0x1FFFFFFFFull);
    Close(obj);
    ::DeleteFileW(path.c_str());
}

TEST_F(IoDataTest, FlushWithoutHandleAndSharedObjects) {
    hOBJ noFile = OpenIo(dir / L"none", kOpenExisting, fACCESS_NO_OPEN);
    EXPECT_EQ(Flush(noFile), errOK);
    std::uint64_t size = 0;
    EXPECT_EQ(host.CallMethod(noFile, 3, &size, std::uint32_t{0}), errUNEXPECTED);

    // Shared objects hold a lock object and seek before every access.
    const std::wstring path = dir / L"shared.bin";
    hOBJ shared = OpenIo(path, kOpenAlways | kOpenShared, fACCESS_READ | fACCESS_WRITE);
    ASSERT_NE(Data(shared)->lock_object, nullptr);
    EXPECT_TRUE(Data(shared)->open_mode & kOpenSeekAlways);
    std::uint32_t written = 0;
    EXPECT_EQ(WriteAt(shared, 0, "abc", &written), errOK);
    // Another writer changes the file behind the object's back.
    {
        UniqueFile other(::CreateFileW(path.c_str(), GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       0, nullptr));
        ASSERT_TRUE(other);
        DWORD done = 0;
        ASSERT_TRUE(::SetFilePointer(other.get(), 0, nullptr, FILE_END) !=
                    INVALID_SET_FILE_POINTER);
        ASSERT_TRUE(::WriteFile(other.get(), "defg", 4, &done, nullptr));
    }
    EXPECT_EQ(WriteAt(shared, 7, "h", &written), errOK) << "the size is refreshed first";
    Result r = 0;
    EXPECT_EQ(ReadBack(shared, 0, 8, &r), "abcdefgh");
}

TEST_F(IoDataTest, AttributesTimesAndBytesWritten) {
    const std::wstring path = dir / L"attrs.bin";
    WriteFileBytes(path, "abc");
    hOBJ obj = OpenIo(path, kOpenExisting, fACCESS_READ | fACCESS_WRITE);
    EXPECT_EQ(host.GetDWord(obj, kPropAttributes).value_or(0) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(host.SetDWord(obj, kPropAttributes, FILE_ATTRIBUTE_HIDDEN), errOK);
    EXPECT_TRUE(::GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(host.GetDWord(obj, kPropAttributes).value_or(0), DWORD(FILE_ATTRIBUTE_HIDDEN));
    std::uint32_t count = 0, small = 0;
    EXPECT_EQ(host.Get(obj, &count, kPropAttributes, &small, 2), errBUFFER_TOO_SMALL);

    // Date-time values round-trip through SetFileTime.
    const std::uint64_t when = DateTimeFromFileTime(132000000000000000ull);
    EXPECT_EQ(host.Set(obj, &count, kPropLastWriteTime, &when, 8), errOK);
    std::uint64_t back = 0;
    EXPECT_EQ(host.Get(obj, &count, kPropLastWriteTime, &back, 8), errOK);
    EXPECT_EQ(back, when);
    WIN32_FILE_ATTRIBUTE_DATA info{};
    ASSERT_TRUE(::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info));
    EXPECT_EQ((std::uint64_t(info.ftLastWriteTime.dwHighDateTime) << 32) |
                  info.ftLastWriteTime.dwLowDateTime,
              132000000000000000ull);
    EXPECT_EQ(host.Set(obj, &count, kPropCreationTime, &when, 4), errPARAMETER_INVALID);

    auto total =
        reinterpret_cast<Result (*)(std::uint32_t*)>(host.LookupExport(kPidWfsys, 0xD986CF4C));
    ASSERT_NE(total, nullptr);
    std::uint32_t before = 0, after = 0;
    total(&before);
    std::uint32_t written = 0;
    EXPECT_EQ(WriteAt(obj, 3, std::string(1000, 'q'), &written), errOK);
    total(&after);
    EXPECT_EQ(after - before, 1000u);
    EXPECT_EQ(total(nullptr), errOK);
}

TEST_F(IoDataTest, SecurityDescriptorOfTheFile) {
    const std::wstring path = dir / L"sec.bin";
    WriteFileBytes(path, "abc");
    hOBJ obj = OpenIo(path, kOpenExisting, fACCESS_READ);
    std::uint32_t count = 0;
    ASSERT_EQ(host.Get(obj, &count, ioprop::kSecurity, nullptr, 0), errBUFFER_TOO_SMALL);
    ASSERT_GT(count, 0u);
    std::vector<unsigned char> descriptor(count);
    ASSERT_EQ(host.Get(obj, &count, ioprop::kSecurity, descriptor.data(), count), errOK);
    EXPECT_TRUE(::IsValidSecurityDescriptor(descriptor.data()));
    EXPECT_EQ(host.Set(obj, &count, ioprop::kSecurity, descriptor.data(),
                       static_cast<std::uint32_t>(descriptor.size())),
              errOK);
    EXPECT_EQ(count, descriptor.size());
    EXPECT_EQ(host.Set(obj, &count, ioprop::kSecurity, nullptr, 0), errPARAMETER_INVALID);
    // A missing file: the Windows error in the 0xA0000000 form.
    hOBJ missing = NewIo(dir / L"missing");
    EXPECT_EQ(static_cast<std::uint32_t>(
                  host.Get(missing, &count, ioprop::kSecurity, descriptor.data(), count)),
              0xA0000002u);
}

struct Request {
    std::uint64_t offset;
    void* buffer;
    std::uint32_t control;
};

TEST_F(IoDataTest, AsynchronousReader) {
    const std::wstring path = dir / L"async.bin";
    WriteFileBytes(path, "0123456789abcdef");
    hOBJ obj = OpenIo(path, kOpenExisting, fACCESS_READ | fACCESS_ASYNC_READ);
    ASSERT_NE(Data(obj)->overlapped_reader, nullptr);
    Result r = 0;
    EXPECT_EQ(ReadBack(obj, 4, 4, &r), "4567");
    EXPECT_EQ(r, errOK);
    EXPECT_EQ(ReadBack(obj, 12, 10, &r), "cdef");
    EXPECT_EQ(r, warnEOF);

    char buffer[8] = {};
    Request request{10, buffer, 6u | 0x40000000u | 0x80000000u};
    Request* address = &request;
    std::uint32_t count = 0;
    ASSERT_EQ(host.Set(obj, &count, ioprop::kAsyncRead, &address, sizeof address), errOK);
    EXPECT_TRUE(request.control & 0x20000000u) << "pending until the completion runs";
    EXPECT_FALSE(request.control & 0x40000000u) << "the failed flag is cleared";
    ::SleepEx(2000, TRUE); // the completion runs as an APC of this thread
    EXPECT_EQ(request.control, 0x80000000u | 6u) << std::hex << request.control;
    EXPECT_EQ(std::string(buffer, 6), "abcdef");

    // Objects that may write have no reader.
    hOBJ writer = OpenIo(path, kOpenExisting, fACCESS_READ | fACCESS_WRITE | fACCESS_ASYNC_READ);
    EXPECT_EQ(Data(writer)->overlapped_reader, nullptr);
    EXPECT_EQ(host.Set(writer, &count, ioprop::kAsyncRead, &address, sizeof address),
              errOBJECT_BAD_STATE);
}

} // namespace
} // namespace zev::test
