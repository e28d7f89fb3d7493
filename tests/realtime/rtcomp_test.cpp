// The real-time compiler's records, which a session cannot show: op words,
// operand entries shared between ops, pooled constants, block and case
// records, the table factor, and the spill file for long scripts.
#include "realtime/rtcomp.h"

#include "core/units.h"
#include "realtime/rtops.h"
#include "realtime/rtsched.h"
#include "tests/lang/parse_fixture.h"

#include <fstream>
#include <vector>

namespace {

class RtComp : public Parse {
 protected:
  ScratchDir dir{"/tmp/rtcomp"};
  void SetUp() override {
    Parse::SetUp();
    std::memset(&rts, 0, sizeof rts);
    setstrv("tmpdir", dir.path.c_str());
    int32_t xe = GETSYM("x", 1, nullptr, 1);
    mkstore(xe, 8);
  }
  void TearDown() override {
    rtfree();
    std::memset(&rts, 0, sizeof rts);
    Parse::TearDown();
  }
  // Compiles script text with the command's argument 6 = n; 0 on success.
  int compile(const std::string& text, int n = 20) {
    std::string f = dir.path + "/s.rt";
    std::ofstream(f) << text;
    int code = 0;
    std::string cmd = "realtime \"x\" - 0 0 " + std::to_string(n);
    EXPECT_TRUE(prsline(cmd.c_str(), 0x0F, &code));
    int u = openf(f.c_str(), 33, 0);
    EXPECT_GE(u, 0);
    int r = rdrtime(u, "s.rt", 0);
    closef(u, 0);
    for (const auto& row : log.rows) ADD_FAILURE() << row;
    return r;
  }
  // The op list's words up to its two zero words.
  std::vector<int32_t> words() const {
    std::vector<int32_t> w;
    const int32_t* p = reinterpret_cast<const int32_t*>(rtop(rts.lst.oplist));
    for (const RtOp* op = rtop(rts.lst.oplist); op->opc; op = rtnext(const_cast<RtOp*>(op)))
      for (int i = 0; i < op->len; i++) w.push_back(*p++);
    return w;
  }
};

TEST_F(RtComp, OpTableRows) {
  EXPECT_EQ(rtopcode("r_wait", 6), R_WAIT);
  EXPECT_EQ(rtopcode("r_clock", 7), 136);
  EXPECT_EQ(rtopcode("r_wai", 5), 0);
  EXPECT_EQ(rtmin(R_ADRAW), 4);
  EXPECT_EQ(rtstep(R_LUT), 8);
  EXPECT_EQ(rtstep(R_GRAPH), 6);
  EXPECT_EQ(rtinfo[R_PWAIT] & 0x80, 0x80);
  EXPECT_EQ(rtdura(R_ERASE), 3250u);
  EXPECT_EQ(rtdura(R_SWRITE), 7650u);
  EXPECT_EQ(rtdura(R_WAIT), 0u);
}

TEST_F(RtComp, OpWordsSharedEntriesAndPooledConstants) {
  ASSERT_EQ(compile("r_wait 0 0 100 x\n"
                    "r_set 3 9 + 50 2 x\n"
                    "r_add 0 0 0 x ++ 2.0\n"
                    "r_text 0 0 0 x s\n"),
            0);
  std::vector<int32_t> w = words();
  const RtOp* op = rtop(rts.lst.oplist);
  EXPECT_EQ(op->opc, R_WAIT);
  EXPECT_EQ(op->len, 5);
  EXPECT_EQ(op->time, 100);
  EXPECT_EQ(op->line, 1);
  const RtOp* o2 = rtnext(const_cast<RtOp*>(op));
  EXPECT_EQ(o2->flg, 3 | OF_REL);
  EXPECT_EQ(o2->code, 9);
  EXPECT_EQ(o2->time, 50);
  EXPECT_EQ(o2->opnd[1], op->opnd[0]);  // x: one entry for both ops
  const RtOp* o3 = rtnext(const_cast<RtOp*>(o2));
  EXPECT_EQ(o3->flg, OF_ADV);
  EXPECT_EQ(o3->extra, 0);
  EXPECT_NE(o3->opnd[1], o2->opnd[0]);  // 2 and 2.0 are two constants
  EXPECT_EQ(rtopnd(o3->opnd[1])->type, 96);
  EXPECT_EQ(rtopnd(o2->opnd[0])->type, 32);
  const RtOp* o4 = rtnext(const_cast<RtOp*>(o3));
  EXPECT_EQ(o4->len, 8);  // p, s, the constant 0, the byte size of s
  EXPECT_EQ(opval(rtopnd(o4->opnd[2])), 0);
  EXPECT_EQ(rts.nvars, 2);
  EXPECT_EQ(opval(rtopnd(o4->opnd[3])), rtopnd(o4->opnd[1])->size);
  EXPECT_LE(rts.ncons, 4);  // 2, 2.0, 0 and the byte size of s, when not 0
  EXPECT_EQ(opval(rtopnd(op->opnd[0])), 0);
  EXPECT_EQ(rtnelm(rtopnd(op->opnd[0])), 8);
  EXPECT_EQ(static_cast<int>(w.size()), 5 + 6 + 6 + 8);
}

TEST_F(RtComp, BlocksCasesAndTableFactor) {
  ASSERT_EQ(compile("r_repeat\n"
                    "r_wait 0 0 0 1\n"
                    "r_end\n"
                    "r_fork\n"
                    "r_end\n"
                    "r_switch 0 0 0 x\n"
                    "r_case 0 4\n"
                    "r_end\n",
                    200),
            0);
  EXPECT_EQ(rts.varmax, 20 * 80);
  EXPECT_EQ(rts.lst.nops, 5u);  // the REPEAT, the FORK and the SWITCH with its ops
  RtOp* rep = rtop(rts.lst.oplist);
  RtTask* bt = rttask(rep->opnd[2]);
  ASSERT_NE(bt, nullptr);
  RtRpt* b = rtrpt(bt->block);
  EXPECT_EQ(opval(rtopnd(rep->opnd[0])), 67108863);
  EXPECT_EQ(b->nops, 1);
  EXPECT_EQ(b->flags, 0x40);
  RtOp* fork = rtop(b->after);
  EXPECT_EQ(fork->opc, R_FORK);
  EXPECT_EQ(rtrpt(rttask(fork->opnd[2])->block)->flags, 15);
  RtOp* sw = rtop(rtrpt(rttask(fork->opnd[2])->block)->after);
  ASSERT_EQ(sw->opc, R_SWITCH);
  EXPECT_EQ(sw->opnd[1], 1);
  EXPECT_EQ(sw->opnd[3], sw->opnd[4]);  // no default: the end offset
  const RtCase* c = reinterpret_cast<const RtCase*>(wordp(sw->opnd[2]));
  EXPECT_EQ(c->value, 4);
  rtfree();
  std::memset(&rts, 0, sizeof rts);
  ASSERT_EQ(compile("r_wait 0 0 0 1\n", -3), 0);
  EXPECT_EQ(rts.varmax, 20 * 20);
}

TEST_F(RtComp, LongScriptSpillsAndComesBackTheSame) {
  std::string small, big;
  for (int i = 0; i < 12; i++) small += "r_set 0 0 " + std::to_string(i) + " 1 x\n";
  for (int i = 0; i < 300; i++) big += "r_set 0 0 " + std::to_string(i) + " 1 x\n";
  ASSERT_EQ(compile(small), 0);
  std::vector<int32_t> a = words();
  rtfree();
  std::memset(&rts, 0, sizeof rts);
  // A file already named "rtime.tmp" is neither used nor touched.
  std::string taken = dir.path + "/rtime.tmp";
  std::ofstream(taken) << "keep";
  ASSERT_EQ(compile(big), 0);
  std::vector<int32_t> b = words();
  ASSERT_EQ(b.size(), 300u * 6);
  for (size_t i = 0; i < a.size(); i++) {
    EXPECT_EQ(a[i], b[i]) << i;
  }
  EXPECT_EQ(rtop(rts.lst.oplist + 299 * 6)->time, 299);
  EXPECT_EQ(slurp(taken), "keep");
  EXPECT_NE(std::string(rttmpname()), taken);
  EXPECT_FALSE(std::filesystem::exists(rttmpname()));
}

}  // namespace
