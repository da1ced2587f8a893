#include "tests/registry/guarded_memory.h"

namespace {

const size_t kPage = 4096;
std::map<void*, void*> g_guardedBases;

}  // namespace

void* GuardedBlock(size_t bytes) {
    size_t span = (bytes + kPage - 1) / kPage * kPage;
    char* base = static_cast<char*>(::VirtualAlloc(nullptr, span + kPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (!base) return nullptr;
    DWORD old = 0;
    ::VirtualProtect(base + span, kPage, PAGE_NOACCESS, &old);
    char* block = base + span - bytes;
    memset(block, 0xCD, bytes);
    g_guardedBases[block] = base;
    return block;
}

void ReleaseGuardedBlock(void* block) {
    auto found = g_guardedBases.find(block);
    if (found == g_guardedBases.end()) return;
    ::VirtualFree(found->second, 0, MEM_RELEASE);
    g_guardedBases.erase(found);
}

GuardedAllocations::GuardedAllocations()
    : virtualAlloc_([this](LPVOID, SIZE_T bytes, DWORD, DWORD) -> LPVOID { return ++blocks_, GuardedBlock(bytes); }),
      virtualFree_([previous = ScopedHook<&Win32Api::VirtualFree>::Current()](LPVOID block, SIZE_T size, DWORD type) -> BOOL {
          if (!g_guardedBases.count(block)) return previous(block, size, type);
          ReleaseGuardedBlock(block);
          return TRUE;
      }),
      malloc_([this](size_t bytes) -> void* { return ++blocks_, GuardedBlock(bytes); }),
      free_([previous = ScopedHook<&Win32Api::free>::Current()](void* block) {
          if (!g_guardedBases.count(block)) return previous(block);
          ReleaseGuardedBlock(block);
      }) {}
