#include <gtest/gtest.h>

#include <QStringList>

#include "BenchUnit.h"
#include "Waiting.h"
#include "programming/BatchList.h"
#include "programming/BenchConsole.h"
#include "programming/Outcomes.h"
#include "serial/ComError.h"

using namespace vardelio;
namespace o = vardelio::outcomes;

namespace {

const TPanelProgramming kValues{"1B2C", "12,34", "#9", TTerminalBlock::tbIncendio,
                                TTestReport::tr7Dias};

// One operation against the unit as its switches make it behave.
struct TSessionRow {
  const char* switches;
  TUnitOperation operation;
  TOutcome outcome;  // unused when the port fails
  QStringList messages;
  bool timeOver = false;
  bool portFails = false;
};

void PrintTo(const TSessionRow& row, std::ostream* out) {
  *out << "[" << row.switches << "] operation " << int(row.operation);
}

class SessionAgainstUnit : public ::testing::TestWithParam<TSessionRow> {};

TEST_P(SessionAgainstUnit, EndsAsTheWindowWould) {
  const TSessionRow& row = GetParam();
  std::string device;
  auto unit = test::StartUnit(row.switches, device);
  ASSERT_NE(unit, nullptr);
  QStringList said;
  TUnitLine line([&](const QString& text) { said << text; });
  line.Open(device);
  if (row.portFails) {
    EXPECT_THROW(line.Run(row.operation, kValues), EComPort);
    unit->Stop();
    return;
  }
  const TSessionResult result = line.Run(row.operation, kValues);
  unit->Stop();
  EXPECT_EQ(int(result.outcome), int(row.outcome));
  EXPECT_EQ(said, row.messages);
  EXPECT_EQ(result.message, said.last());
  EXPECT_EQ(result.timeOver, row.timeOver);
  EXPECT_EQ(result.Succeeded(), row.outcome == TOutcome::programmed ||
                                    row.outcome == TOutcome::verified ||
                                    row.outcome == TOutcome::received);
  if (row.operation == TUnitOperation::receive && row.outcome == TOutcome::received) {
    // What the unit holds when nothing has been sent to it.
    EXPECT_EQ(result.reply.Subscriber, "1B2C");
    EXPECT_EQ(result.reply.MainPhone, "12345678");
    EXPECT_EQ(result.reply.BackupPhone, "87654321");
    EXPECT_EQ(result.reply.TerminalBlock, TTerminalBlock::tbAsalto);
    EXPECT_EQ(result.reply.TestReport, TTestReport::tr24Hs);
  }
}

using U = TUnitOperation;
using R = TOutcome;
const QString kPeriodDiffers =
    o::kNotVerified + QStringLiteral("\nInforme de Test: enviado 7 Días, recibido 30 Días.");

INSTANTIATE_TEST_SUITE_P(
    EverySwitch, SessionAgainstUnit,
    ::testing::Values(
        TSessionRow{"", U::send, R::programmed, {o::kProgrammed}},
        TSessionRow{"", U::verify, R::verified, {o::kVerified}},
        TSessionRow{"", U::receive, R::received, {o::kReceived}},
        TSessionRow{"--silent", U::send, R::notProgrammed, {o::kNotProgrammed}},
        TSessionRow{"--silent", U::verify, R::notProgrammed, {o::kNotProgrammed}},
        TSessionRow{"--silent", U::receive, R::nothingReceived, {o::kNothingReceived}},
        // Answers well after the evaluation.
        TSessionRow{"--delay 2500", U::send, R::notProgrammed, {o::kNotProgrammed}},
        TSessionRow{"--delay 2500", U::receive, R::nothingReceived, {o::kNothingReceived}},
        TSessionRow{"--missing-separator", U::send, R::programmed, {o::kProgrammed}},
        TSessionRow{"--missing-separator", U::receive, R::receiveError, {o::kReceiveError}},
        TSessionRow{"--missing-separator", U::verify, R::receiveError, {o::kReceiveError}},
        TSessionRow{"--garbage", U::send, R::notProgrammed, {o::kNotProgrammed}},
        TSessionRow{"--garbage", U::verify, R::notProgrammed, {o::kNotProgrammed}},
        TSessionRow{"--garbage", U::receive, R::receiveError, {o::kReceiveError}},
        TSessionRow{
            "--time-over", U::send, R::notProgrammed, {o::kTimeOver, o::kNotProgrammed}, true},
        TSessionRow{
            "--time-over", U::verify, R::notProgrammed, {o::kTimeOver, o::kNotProgrammed}, true},
        TSessionRow{"--time-over",
                    U::receive,
                    R::nothingReceived,
                    {o::kTimeOver, o::kNothingReceived},
                    true},
        TSessionRow{"--alter-on-store", U::send, R::programmed, {o::kProgrammed}},
        TSessionRow{"--alter-on-store", U::verify, R::notVerified, {kPeriodDiffers}},
        TSessionRow{"--silent-on-read", U::send, R::programmed, {o::kProgrammed}},
        TSessionRow{"--silent-on-read", U::verify, R::nothingReceived, {o::kNothingReceived}},
        TSessionRow{"--silent-on-read", U::receive, R::nothingReceived, {o::kNothingReceived}},
        // The unit takes the values and leaves the line: the read-back cannot be asked for.
        TSessionRow{"--hang-up-after 1", U::send, R::programmed, {o::kProgrammed}},
        TSessionRow{"--hang-up-after 1", U::verify, R::verified, {}, false, true}));

// The frame as the unit stored it: the window's frame, byte for byte.
TEST(Session, TheUnitStoresTheWindowsFrame) {
  std::string device;
  auto unit = test::StartUnit("", device);
  ASSERT_NE(unit, nullptr);
  TUnitLine line({});
  line.Open(device);
  line.Run(TUnitOperation::send, kValues);
  unit->Stop();
  EXPECT_EQ(unit->Stored(), "1B2C12,34T#9T22");
}

// --- batch lists --------------------------------------------------------------------------

struct TListRow {
  const char* text;
  int items;          // -1: refused
  const char* fault;  // part of the refusal
};

class BatchCsv : public ::testing::TestWithParam<TListRow> {};

TEST_P(BatchCsv, TakesAWholeListOrNone) {
  const TBatchList list = ParseBatchCsv(GetParam().text);
  if (GetParam().items < 0) {
    EXPECT_TRUE(list.items.empty());
    EXPECT_TRUE(list.fault.contains(QString::fromUtf8(GetParam().fault)))
        << list.fault.toStdString();
  } else {
    EXPECT_TRUE(list.fault.isEmpty()) << list.fault.toStdString();
    EXPECT_EQ(int(list.items.size()), GetParam().items);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lists, BatchCsv,
    ::testing::Values(
        TListRow{"abonado,principal,respaldo,bornera,informe\n1B2C,\"12,34\",#9,incendio,7-dias\n",
                 1, ""},
        // As a spreadsheet set to Spanish saves it, with the window's captions.
        TListRow{"\xEF\xBB\xBF"
                 "Abonado;Principal;Respaldo;Bornera;Informe\r\n"
                 "1B2C;12,34;;Incendio;7 D\xC3\xAD"
                 "as\r\n\r\n2222;1;2;Asalto;24 Hs\r\n",
                 2, ""},
        // Columns in another order.
        TListRow{"informe,bornera,respaldo,principal,abonado\n30-dias,accidente,,,3333\n", 1, ""},
        TListRow{"abonado,principal,respaldo,bornera\n1B2C,1,2,asalto\n", -1, "«informe»"},
        TListRow{"", -1, "vacía"},
        TListRow{"abonado,principal,respaldo,bornera,informe\n", -1, "ningún equipo"},
        TListRow{"abonado,principal,respaldo,bornera,informe\n1B2C,1,2,asalto,24-hs\n"
                 "1A2C,1,2,asalto,24-hs\n",
                 -1, "línea 3: N° de Abonado: el carácter «A» no se admite"},
        TListRow{
            "abonado,principal,respaldo,bornera,informe\n1B2C,12345678901234567890123456789012,"
            ",asalto,24-hs\n",
            -1, "Teléfono Principal: tiene 32 caracteres"},
        TListRow{"abonado,principal,respaldo,bornera,informe\n1B2C,1,2,robo,24-hs\n", -1,
                 "Bornera: valor «robo» desconocido"},
        TListRow{"abonado,principal,respaldo,bornera,informe\n1B2C,1,\"2\ninforme-test=24-hs\","
                 "asalto,24-hs\n",
                 -1, "respaldo: tiene más de una línea"}));

// --- a run's bookkeeping --------------------------------------------------------------------

TSessionResult Outcome(TOutcome outcome) {
  TSessionResult result;
  result.outcome = outcome;
  return result;
}

TEST(BatchRun, RetrySkipStopAndSummary) {
  std::vector<TBatchItem> items(5);
  TBatchRun run(items);
  EXPECT_EQ(run.Next(), 0u);
  run.Record(Outcome(TOutcome::verified));
  EXPECT_EQ(run.Next(), 1u);
  run.Record(Outcome(TOutcome::notProgrammed));
  EXPECT_TRUE(run.CurrentFailed());
  EXPECT_EQ(run.Next(), 1u);  // a failure waits for a retry or a skip
  run.Record(Outcome(TOutcome::verified));
  EXPECT_EQ(run.Results()[1].attempts, 2);
  EXPECT_EQ(run.Next(), 2u);
  run.Record(Outcome(TOutcome::notVerified));
  run.Skip();
  EXPECT_EQ(run.Results()[2].state, TBatchState::failed);  // skipped after failing: a failure
  run.Skip();
  EXPECT_EQ(run.Results()[3].state, TBatchState::skipped);
  run.Stop();
  EXPECT_TRUE(run.Over());
  EXPECT_FALSE(run.AllVerified());
  EXPECT_EQ(run.Summary(), QStringLiteral("5 equipos: 2 verificados, 1 con falla, 2 salteados."));
}

}  // namespace
