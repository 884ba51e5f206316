#include "EndToEndSupport.h"
#include "NetTestSupport.h"
#include "ScaleSimProcess.h"

namespace {
[[maybe_unused]] const bool kPrivateNetwork = EnterPrivateNetwork();
}  // namespace

TEST_F(EthernetTransfer, ThousandRowsOverUdpArriveByteForByte) {
  TScaleSimProcess sim({"--udp", "0", "--raw", dir.File("raw")});
  TForm1 form;
  UseEthernet(1, sim.UdpPort());
  const std::string file = DatabaseFile(kRows);
  Connect(form);
  SendTable(form, file);
  ExpectSuccess(form);
  sim.Stop();
  const std::string opening(1, '\0');
  EXPECT_EQ(dir.Read("raw"), opening + ExpectedWire(file, opening));
}
