#include "common/no_destructor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace quillmark {
namespace {

struct Counted {
  Counted(std::string a, int b) : text(std::move(a)), number(b) {}
  ~Counted() { ++destroyed; }
  std::string text;
  int number;
  static int destroyed;
};
int Counted::destroyed = 0;

TEST(NoDestructor, BuildsFromItsArgumentsAndNeverDestroys) {
  Counted::destroyed = 0;
  {
    NoDestructor<Counted> held(std::string("short"), 7);
    EXPECT_EQ(held->text, std::string("short"));
    EXPECT_EQ((*held).number, 7);
    held->number = 8;
    EXPECT_EQ(held.get()->number, 8);
    const NoDestructor<Counted>& view = held;
    EXPECT_EQ(view->number, 8);
  }
  EXPECT_EQ(Counted::destroyed, 0);
  // The text fits in the string itself, so nothing on the heap is left behind.
}

TEST(NoDestructor, KeepsTheAlignmentOfItsType) {
  struct alignas(64) Wide {
    std::uint8_t bytes[64];
  };
  NoDestructor<Wide> a;
  NoDestructor<Wide> b;
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a.get()) % 64, 0u);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b.get()) % 64, 0u);
}

struct AbortsWhenDestroyed {
  ~AbortsWhenDestroyed() { std::abort(); }
  std::vector<int> values = {1, 2, 3};
};

TEST(NoDestructorDeathTest, AFunctionStaticOutlivesExit) {
  EXPECT_EXIT(
      {
        static NoDestructor<AbortsWhenDestroyed> forever;
        if (forever->values.size() != 3) std::exit(2);
        std::exit(0);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace quillmark
