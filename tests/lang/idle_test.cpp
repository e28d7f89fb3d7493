// The main loop's idle turn: a repeating maincmd ends on Ctrl-C.
#include "lang/mainloop.h"
#include "lang/macro.h"
#include "lang/names.h"
#include "parse_fixture.h"

namespace {

class Idle : public Parse {
 protected:
  void SetUp() override {
    Parse::SetUp();
    clrpst(&dfltq);
    clrpst(&typq);
    qflag = 0;
    macmod = 0;
    nerrtn = 0;
  }
  void TearDown() override {
    setstrv("maincmd", "");
    clrpst(&dfltq);
    clrpst(&typq);
    qflag = 0;
    Parse::TearDown();
  }
};

TEST_F(Idle, CtrlCEndsARepeatingMaincmd) {
  // A Ctrl-C served while no maincmd repeats is spent: it does not end the
  // next maincmd set.
  Term kb;
  Backend* old = setbackend(&kb);
  Term::keys(kb.pending, "\n");
  state = ST_INTR;
  mainturn();
  setbackend(old);
  ASSERT_EQ(setstrv("maincmd", "frob;"), 0);
  mainturn();
  EXPECT_EQ(std::string(strvar("maincmd")), "frob;");
  clrpst(&typq);
  state = ST_INTR;  // Ctrl-C came while the text ran
  mainturn();
  EXPECT_EQ(std::string(strvar("maincmd")), "");
}

}  // namespace
