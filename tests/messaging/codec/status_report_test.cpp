// Status reports as the modem routes them, each PDU also read by python-gammu;
// the SMS-SUBMIT's request for one.
#include <gtest/gtest.h>

#include "messaging/status_report.h"
#include "tests/support/gammu.h"

namespace vestrel {
namespace {

constexpr char kCentre[] = "07919761989901F0";

TEST(StatusReport, PdusAsGammuReadsThem) {
  const struct {
    std::string tpdu;
    unsigned reference;
    std::string recipient, submitted, done;
    unsigned status;
    DeliveryOutcome outcome;
  } rows[] = {
      {"062E0B919761214365F7622101413050216221014130902100", 46, "+79161234567",
       "2026-12-10T14:03:05+03:00", "2026-12-10T14:03:09+03:00", 0, DeliveryOutcome::kDelivered},
      // A national number, a zone west of Greenwich, the centre still trying.
      {"06FF0A8190612143656221014130500A6221014130900A20", 255, "0916123456",
       "2026-12-10T14:03:05-05:00", "2026-12-10T14:03:09-05:00", 0x20, DeliveryOutcome::kPending},
      // Given up: the recipient unknown (0x41), with TP-PI after the status.
      {"06010B919761214365F7622101413050216221014130902141 00", 1, "+79161234567",
       "2026-12-10T14:03:05+03:00", "2026-12-10T14:03:09+03:00", 0x41, DeliveryOutcome::kFailed},
  };
  for (const auto& row : rows) {
    std::string tpdu = row.tpdu;
    std::erase(tpdu, ' ');
    const std::string pdu = kCentre + tpdu;
    const auto report = DecodeStatusReportPdu(pdu);
    ASSERT_TRUE(report) << pdu;
    EXPECT_EQ(report->reference, row.reference);
    EXPECT_EQ(report->recipient, row.recipient);
    EXPECT_EQ(report->submitted_at, row.submitted);
    EXPECT_EQ(report->done_at, row.done);
    EXPECT_EQ(report->status, row.status);
    EXPECT_EQ(report->outcome, row.outcome);
    const auto gammu = test::RunGammuDecode("", {pdu}).at(0);
    EXPECT_EQ(gammu["type"], "Status_Report") << gammu;
    EXPECT_EQ(gammu["reference"], row.reference);
    EXPECT_EQ(gammu["status"], row.status);
    EXPECT_TRUE(SameRecipient(gammu["number"].get<std::string>(), row.recipient)) << gammu;
  }
  // Not a status report, cut short, not hexadecimal.
  for (const std::string& bad : {std::string(kCentre) + "04", std::string(kCentre) + "062E0B91",
                                 std::string("0006XX"), std::string("")})
    EXPECT_FALSE(DecodeStatusReportPdu(bad)) << bad;
}

TEST(StatusReport, TextModeFieldsAndTheRequest) {
  const auto report = ParseStatusReportText(
      R"( 6,46,"+79161234567",145,"26/12/10,14:03:05+12","26/12/10,14:03:09+12",0)");
  ASSERT_TRUE(report);
  EXPECT_EQ(report->reference, 46u);
  EXPECT_EQ(report->recipient, "+79161234567");
  EXPECT_EQ(report->done_at, "2026-12-10T14:03:09+03:00");
  EXPECT_EQ(report->outcome, DeliveryOutcome::kDelivered);
  for (const char* bad : {R"(6,46,"+7",145,"26/12/10,14:03:05+12")",
                          R"(1,46,"+7",145,"26/12/10,14:03:05+12","26/12/10,14:03:09+12",0)",
                          R"(6,460,"+7",145,"26/12/10,14:03:05+12","26/12/10,14:03:09+12",0)"})
    EXPECT_FALSE(ParseStatusReportText(bad)) << bad;

  const struct {
    std::string pdu, requested;
  } submits[] = {
      {"0011000B919761214365F70000AA01C8", "0031000B919761214365F70000AA01C8"},
      {"07919761989901F001000B91", "07919761989901F021000B91"},
      {"0031", "0031"},
      {"07", "07"},
  };
  for (const auto& s : submits) EXPECT_EQ(WithStatusReportRequest(s.pdu), s.requested) << s.pdu;
  EXPECT_TRUE(SameRecipient("+79161234567", "79161234567"));
  EXPECT_FALSE(SameRecipient("+79161234567", "79161234568"));
}

}  // namespace
}  // namespace vestrel
