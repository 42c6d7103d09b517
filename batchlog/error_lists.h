// The simulation errors of a job, as its batch log carries them: a list of
// machines, each a list of channels, each a list of messages. Machines and
// channels are known only by their position.
//
// Each level exchanges itself with a chaptered file through the list
// exchanges of KvFile: the messages of a channel as value lines, machines and
// channels as nested sections, so that one machine with one channel holding
// one message is written as
//
//   Machine list taille = 1
//   [Machine list 0:nouvelle_section]
//   Machine errors taille = 1
//   [Machine list 0:Machine errors 0:nouvelle_section]
//   Channel errors taille = 1
//   Channel errors 0 = the message
//
// (empty lines left out). The batch launcher never adds errors itself: it
// reads them with a job's log and writes them back unchanged.
#pragma once

#include "chapfile/kv_file.h"
#include "chapfile/kv_object_file.h"
#include "containers/cstring.h"
#include "containers/kv_liste_tab.h"

// Copies are deep and in order (those of KvListeTabFixe): a machine copies
// its channels, a channel its messages.

// The messages of one channel.
class KvListeErreurCanal : public KvListeTabFixe<CString>, public KvObjetFile {
  public:
    // A channel holds at most this many messages when read from a file.
    static constexpr unsigned kMaxMessages = 1000000;

    KvListeErreurCanal() : KvListeTabFixe<CString>(100) {}
    KvListeErreurCanal(const KvListeErreurCanal&) = default;
    KvListeErreurCanal& operator=(const KvListeErreurCanal&) = default;
    ~KvListeErreurCanal() override;

    int Exchange(KvFile& file) override;
};

// The channels of one machine.
class KvListeErreurMachine : public KvListeTabFixe<KvListeErreurCanal>, public KvObjetFile {
  public:
    KvListeErreurMachine() : KvListeTabFixe<KvListeErreurCanal>(100) {}
    KvListeErreurMachine(const KvListeErreurMachine&) = default;
    KvListeErreurMachine& operator=(const KvListeErreurMachine&) = default;
    ~KvListeErreurMachine() override;

    int Exchange(KvFile& file) override;
};

// Every machine of a job: the whole error tree, which it owns.
class KvListeErreurToutesMachines : public KvListeTabFixe<KvListeErreurMachine>,
                                    public KvObjetFile {
  public:
    KvListeErreurToutesMachines() : KvListeTabFixe<KvListeErreurMachine>(100) {}
    KvListeErreurToutesMachines(const KvListeErreurToutesMachines&) = default;
    KvListeErreurToutesMachines& operator=(const KvListeErreurToutesMachines&) = default;
    ~KvListeErreurToutesMachines() override;

    int Exchange(KvFile& file) override;
};
