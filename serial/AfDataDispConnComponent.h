#pragma once
// TAfDataDispConnComponent: base of the serial components. A non-visual
// QObject (its objectName() is the component's Name) that can be opened,
// closed and written to.
//
// Thread: GUI thread only.

#include <QObject>

class TAfDataDispConnComponent : public QObject {
  Q_OBJECT

 public:
  explicit TAfDataDispConnComponent(QObject* parent = nullptr) : QObject(parent) {}

  virtual void ClosePort() {}
  virtual void OpenPort() {}
  virtual void WriteBlock(const void* data, int count) = 0;
};
