#include "AfPortSettingsDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QIntValidator>
#include <QVBoxLayout>

namespace {

// Flow choices in the order of TAfFlowControl, with the flag bits each sets.
constexpr uint32_t kFlowMask = AfDcbFlag::OutxCtsFlow | AfDcbFlag::OutxDsrFlow | AfDcbFlag::DtrControlMask |
                               AfDcbFlag::RtsControlMask | AfDcbFlag::OutX | AfDcbFlag::InX;
constexpr uint32_t kFlowChoice[] = {
    AfDcbFlag::DtrEnable | AfDcbFlag::RtsEnable,
    AfDcbFlag::OutX | AfDcbFlag::InX | AfDcbFlag::DtrEnable | AfDcbFlag::RtsEnable,
    AfDcbFlag::OutxCtsFlow | AfDcbFlag::RtsHandshake | AfDcbFlag::DtrEnable,
    AfDcbFlag::OutxDsrFlow | AfDcbFlag::DtrHandshake | AfDcbFlag::RtsEnable,
};

int FlowIndex(uint32_t flags) {
  // Same precedence as taking settings back from a block.
  if ((flags & (AfDcbFlag::OutxDsrFlow | AfDcbFlag::DtrHandshake)) == (AfDcbFlag::OutxDsrFlow | AfDcbFlag::DtrHandshake))
    return fwDtrDsr;
  if ((flags & (AfDcbFlag::OutxCtsFlow | AfDcbFlag::RtsHandshake)) == (AfDcbFlag::OutxCtsFlow | AfDcbFlag::RtsHandshake))
    return fwRtsCts;
  if ((flags & (AfDcbFlag::OutX | AfDcbFlag::InX)) == (AfDcbFlag::OutX | AfDcbFlag::InX)) return fwXOnXOff;
  return fwNone;
}

}  // namespace

TAfPortSettingsDialog::TAfPortSettingsDialog(const TAfDcb& block, const QString& portName, QWidget* parent)
    : QDialog(parent), m_block(block) {
  setWindowTitle(tr("%1 Settings").arg(portName));

  m_speed = new QComboBox(this);
  m_speed->setEditable(true);
  m_speed->setValidator(new QIntValidator(1, 16000000, m_speed));
  for (int i = br110; i < brUser; ++i) m_speed->addItem(QString::number(kAfBaudRates[i]));
  m_speed->setCurrentText(QString::number(block.BaudRate));

  m_dataBits = new QComboBox(this);
  for (int bits = 5; bits <= 8; ++bits) m_dataBits->addItem(QString::number(bits), bits);
  m_dataBits->setCurrentIndex(block.ByteSize >= 5 && block.ByteSize <= 8 ? block.ByteSize - 5 : 3);

  m_parity = new QComboBox(this);
  m_parity->addItems({tr("None"), tr("Odd"), tr("Even"), tr("Mark"), tr("Space")});
  m_parity->setCurrentIndex(block.Parity <= 4 ? block.Parity : 0);

  m_stopBits = new QComboBox(this);
  m_stopBits->addItems({QStringLiteral("1"), QStringLiteral("1.5"), QStringLiteral("2")});
  m_stopBits->setCurrentIndex(block.StopBits <= 2 ? block.StopBits : 0);

  m_flow = new QComboBox(this);
  m_flow->addItems({tr("None"), tr("Xon / Xoff"), tr("Hardware (RTS/CTS)"), tr("Hardware (DTR/DSR)")});
  m_flow->setCurrentIndex(FlowIndex(block.Flags));

  auto* form = new QFormLayout;
  form->addRow(tr("Bits per second:"), m_speed);
  form->addRow(tr("Data bits:"), m_dataBits);
  form->addRow(tr("Parity:"), m_parity);
  form->addRow(tr("Stop bits:"), m_stopBits);
  form->addRow(tr("Flow control:"), m_flow);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
}

TAfDcb TAfPortSettingsDialog::Block() const {
  TAfDcb b = m_block;
  bool ok = false;
  const uint32_t speed = m_speed->currentText().toUInt(&ok);
  if (ok && speed > 0) b.BaudRate = speed;
  b.ByteSize = static_cast<uint8_t>(m_dataBits->currentData().toInt());
  b.Parity = static_cast<uint8_t>(m_parity->currentIndex());
  b.StopBits = static_cast<uint8_t>(m_stopBits->currentIndex());
  b.Flags = (b.Flags & ~kFlowMask) | kFlowChoice[m_flow->currentIndex() < 0 ? 0 : m_flow->currentIndex()];
  return b;
}
