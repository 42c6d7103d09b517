#include "batchlog/error_lists.h"

KvListeErreurCanal::~KvListeErreurCanal() = default;

int KvListeErreurCanal::Exchange(KvFile& file) {
    return file.ExchangeStringList("Channel errors", *this, kMaxMessages);
}

KvListeErreurMachine::~KvListeErreurMachine() = default;

int KvListeErreurMachine::Exchange(KvFile& file) {
    return file.ExchangeObjectList("Machine errors", *this);
}

KvListeErreurToutesMachines::~KvListeErreurToutesMachines() = default;

int KvListeErreurToutesMachines::Exchange(KvFile& file) {
    return file.ExchangeObjectList("Machine list", *this);
}
