// 32-bit x86 only: every export of the loaded library removes exactly its argument bytes from
// the stack (callee cleans), as many as the export list gives it and as the header's
// declaration adds up to. A caller compiled with the header and a library whose convention or
// argument bytes differ leave the stack pointer off after every call; the measure names each
// export that does so.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "support/test_platform.h"
#include "zdb_api.h"

#if !defined(__i386__)
#error "export_convention_test.cpp is built for 32-bit x86 only"
#endif

// Calls `fn` with `count` 32-bit words on the stack (words[0] first) and a 16-byte aligned
// stack pointer, stores its return value in *result and returns how many bytes the callee
// removed from the stack. The thunk itself keeps the stack by its frame pointer, so a callee
// that removes too much or too little cannot harm the caller.
extern "C" uint32_t zdb_test_measure_call(const void* fn, const uint32_t* words, uint32_t count,
                                          int32_t* result);
#if defined(_WIN32)
#define ZDB_TEST_SYMBOL "_zdb_test_measure_call"
#define ZDB_TEST_TYPE ""
#else
#define ZDB_TEST_SYMBOL "zdb_test_measure_call"
#define ZDB_TEST_TYPE "  .type zdb_test_measure_call, @function\n"
#endif
asm("  .text\n"
    "  .globl " ZDB_TEST_SYMBOL "\n" ZDB_TEST_TYPE ZDB_TEST_SYMBOL
    ":\n"
    "  pushl %ebp\n"
    "  movl %esp, %ebp\n"
    "  pushl %ebx\n"
    "  pushl %esi\n"
    "  pushl %edi\n"
    "  movl 16(%ebp), %ecx\n"
    "  leal 0(,%ecx,4), %eax\n"
    "  subl %eax, %esp\n"
    "  andl $-16, %esp\n"
    "  movl 12(%ebp), %esi\n"
    "  xorl %edx, %edx\n"
    "1:\n"
    "  cmpl %ecx, %edx\n"
    "  jae 2f\n"
    "  movl (%esi,%edx,4), %eax\n"
    "  movl %eax, (%esp,%edx,4)\n"
    "  incl %edx\n"
    "  jmp 1b\n"
    "2:\n"
    "  movl %esp, %ebx\n"
    "  call *8(%ebp)\n"
    "  movl 20(%ebp), %ecx\n"
    "  movl %eax, (%ecx)\n"
    "  movl %esp, %eax\n"
    "  subl %ebx, %eax\n"
    "  leal -12(%ebp), %esp\n"
    "  popl %edi\n"
    "  popl %esi\n"
    "  popl %ebx\n"
    "  popl %ebp\n"
    "  ret\n");

namespace zdb::test {
namespace {

// The argument bytes of a declaration of the header. Only a ZDB_CALL function matches, so an
// export declared without it does not compile here.
template <typename F>
struct Declared;
template <typename R, typename... A>
struct Declared<R(ZDB_CALL*)(A...)> {
  static constexpr uint32_t bytes = (0u + ... + static_cast<uint32_t>((sizeof(A) + 3) / 4 * 4));
  // The call as a program compiled with the header makes it, every argument zero or null.
  static int32_t CallWithZeros(void* symbol) {
    return std::apply(reinterpret_cast<R(ZDB_CALL*)(A...)>(symbol), std::tuple<A...>{});
  }
};

struct Entry {
  const char* name;
  uint32_t listed;    // argument bytes of the export list
  uint32_t declared;  // argument bytes of the header's declaration
  bool plain;         // has a plain name on Windows (otherwise only _Name@N)
  int32_t (*typedCall)(void*);
};

#define ZDB_EXPORT(fn, listedBytes, hasPlain)                            \
  Entry{#fn, listedBytes, Declared<decltype(&fn)>::bytes, hasPlain != 0, \
        &Declared<decltype(&fn)>::CallWithZeros},
const Entry kExports[] = {
#include "exports_table.inc"
};
#undef ZDB_EXPORT

// What each export answers to zero and null arguments on a thread without a Session: 2001,
// except for the calls that check their arguments before they look for the Session.
int32_t AnswerToZeros(const std::string& name) {
  if (name == "ZDB_GetServers") return 0;  // room for no entry: nothing is looked for
  if (name == "ZDB_SqlRun") return ZDB_ERR_SCRIPT_ARGUMENTS;
  if (name.rfind("DB_", 0) == 0) return ZDB_ERR_ARGUMENT;  // no array
  return ZDB_ERR_COMMUNICATION;
}

std::string SymbolName(const Entry& e) {
#if defined(_WIN32)
  if (!e.plain) return "_" + std::string(e.name) + "@" + std::to_string(e.listed);
#endif
  return e.name;
}

int32_t ZDB_CALL CalleeCleans(int32_t a, int32_t b) {
  return a + b + 1;
}
int32_t __attribute__((cdecl)) CallerCleans(int32_t a, int32_t b) {
  return a + b + 2;
}

TEST(ExportConvention, TheMeasureTellsCalleeCleansFromCallerCleans) {
  const uint32_t words[2] = {40, 2};
  int32_t result = 0;
  EXPECT_EQ(zdb_test_measure_call(reinterpret_cast<const void*>(&CalleeCleans), words, 2, &result),
            8u);
  EXPECT_EQ(result, 43);
  EXPECT_EQ(zdb_test_measure_call(reinterpret_cast<const void*>(&CallerCleans), words, 2, &result),
            0u);
  EXPECT_EQ(result, 44);
}

TEST(ExportConvention, EveryExportRemovesItsArgumentBytes) {
  LoadedLibrary lib(ZDB_TEST_LIBRARY);
  ASSERT_TRUE(lib.loaded()) << ZDB_TEST_LIBRARY;
  std::set<std::string> names;
  for (const Entry& e : kExports) {
    SCOPED_TRACE(e.name);
    EXPECT_TRUE(names.insert(e.name).second) << "listed twice";
    EXPECT_EQ(e.declared, e.listed) << "the header and the export list disagree";
    void* symbol = lib.Symbol(SymbolName(e).c_str());
    ASSERT_NE(symbol, nullptr) << SymbolName(e) << " is not exported";
    const std::vector<uint32_t> zeros(e.listed / 4, 0);
    int32_t result = -1;
    const uint32_t removed =
        zdb_test_measure_call(symbol, zeros.data(), static_cast<uint32_t>(zeros.size()), &result);
    EXPECT_EQ(removed, e.listed);
    EXPECT_EQ(result, AnswerToZeros(e.name));
    // The same call as compiled code makes it, through a pointer of the header's type. Only
    // with a callee that cleans up as declared: any other leaves this function's stack off.
    if (removed == e.listed) {
      EXPECT_EQ(e.typedCall(symbol), AnswerToZeros(e.name));
    }
  }
  EXPECT_EQ(names.size(), 153u);
}

#if !defined(_WIN32)
// The Automation stand-in keeps the default convention: it stands for system functions, not
// for exports of the DLL (Windows has its own).
TEST(ExportConvention, TheAutomationStandInLeavesItsArgumentsToTheCaller) {
  LoadedLibrary lib(ZDB_TEST_LIBRARY);
  ASSERT_TRUE(lib.loaded()) << ZDB_TEST_LIBRARY;
  void* getDim = lib.Symbol("zdb_SafeArrayGetDim");
  ASSERT_NE(getDim, nullptr);
  const uint32_t null = 0;
  int32_t result = -1;
  EXPECT_EQ(zdb_test_measure_call(getDim, &null, 1, &result), 0u);
  EXPECT_EQ(result, 0);  // no array, no dimensions
}
#endif

}  // namespace
}  // namespace zdb::test
