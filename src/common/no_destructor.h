// NoDestructor<T>: an object built on first use that lives until the process
// ends and is never destroyed, as in LevelDB and Chromium. For function-local
// statics (caches, registries, shared empty values) whose destructors must
// not run at exit, when other threads or other static destructors may still
// use them:
//
//   const std::string& Empty() {
//     static const NoDestructor<std::string> kEmpty;
//     return *kEmpty;
//   }
#ifndef QUILLMARK_COMMON_NO_DESTRUCTOR_H_
#define QUILLMARK_COMMON_NO_DESTRUCTOR_H_

#include <new>
#include <type_traits>
#include <utility>

namespace quillmark {

template <typename T>
class NoDestructor {
 public:
  template <typename... Args>
  explicit NoDestructor(Args&&... args) {
    new (storage_) T(std::forward<Args>(args)...);
  }
  // The destructor of T is deliberately never called.
  ~NoDestructor() = default;

  NoDestructor(const NoDestructor&) = delete;
  NoDestructor& operator=(const NoDestructor&) = delete;

  T* get() { return std::launder(reinterpret_cast<T*>(storage_)); }
  const T* get() const { return std::launder(reinterpret_cast<const T*>(storage_)); }
  T& operator*() { return *get(); }
  const T& operator*() const { return *get(); }
  T* operator->() { return get(); }
  const T* operator->() const { return get(); }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace quillmark

#endif  // QUILLMARK_COMMON_NO_DESTRUCTOR_H_
