#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets: fuzz/corpus/<target>/<name>.

Seeds are small valid files of each reader, taken from what its tests read,
plus a few near misses; the fuzzer mutates from there. Run it again after
changing a seed; it rewrites only its own files, so seeds added by hand (or
crash inputs kept as seeds) stay.
"""
import os
import shutil

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CORPUS = os.path.join(ROOT, "fuzz", "corpus")


def put(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("latin-1")
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def crlf(text):
    return text.replace("\n", "\r\n")


def utf16(text):
    return b"\xff\xfe" + text.encode("utf-16-le")


# ---- chaptered files: the list file of fuzz/chapfile_fuzz.cpp ----
HEAD = ("[[Atelier]]\n\n\n\n\n[Version]\n\nVersion ft = 0.2\nVersion = 1.3\n\n\n")
BODY = ("\n\n[Atelier]\n\nTitre = Atelier<saut>Nord\nNombre = 3\nDecalage = -4\n"
        "Avance = 120.500000\nMetrique = 1\nOrigine = 10;-20\n"
        "\n\n[Machine:nouvelle_section]\n\n\n\n[Machine:Broche]\n\nNom = HSK 63\n")
TOOL = "\n\n\n\n[element outil]\n\nNom = {}\nNumero = {}\nDiametre = {}\nActif = {}\nDecalage = 1;2\n"
put("chapfile", "list.txt", crlf(HEAD + BODY + TOOL.format("Fraise 10", 1, "10.000000", 1)
                                 + TOOL.format("Foret", 2, "6.500000", 0)))
put("chapfile", "list_lf.txt", HEAD + BODY)
put("chapfile", "old_version.txt",
    crlf(HEAD.replace("Version = 1.3", "Version = 0.9") + BODY + "\n\n[element refus]\n\nx = 1\n"))
put("chapfile", "users.txt",
    crlf("[[Atelier]]\n\n\n\n\n[Version]\n\n\nVersion ft = 0.2\nVersion = 1.3\n\n\n"
         "\n\n[element outil]\n\nnom = Caf\xe9\nNUMERO = 4294967295\n"
         "[element inconnu]\nA=B\n"))
# A value longer than the 999 characters the reader takes per line.
put("chapfile", "long_line.txt",
    crlf(HEAD + BODY.replace("Atelier<saut>Nord", "N" * 1500) + TOOL.format("x" * 998, 3, "1", 1)))

# ---- catalogues, single-byte and UTF-16LE ----
CATALOGUE = ("[20,0,0,9]  abc\t\n[ 20 0 0 1 ]first\n[20, 0, 0, 1] second \t\n"
             "[1 5] two numbers\n[1,6,7] comma pair\n[+3,-0,0,1] signs\n"
             "[20;0;0;2] refused\n[4,1]a\\tb\\\\t\\x\n[4,2]\t \\tlead\n"
             "[4,3]Soci\xe9t\xe9 100%\n[4,4]x]y\n[4,5]\n[2,3]\"quoted\"\n")
put("catalogue", "ansi.txt", CATALOGUE)
put("catalogue", "ansi_crlf.txt", crlf(CATALOGUE))
put("catalogue", "utf16.txt", utf16(CATALOGUE + "[5,1]\u0416\u20ac\n"))
put("catalogue", "utf16_crlf.txt", utf16(crlf(CATALOGUE)))
# Lines past the 1024 characters kept and the 2047 read at a time.
LONG = "[7,1] " + "a" * 1100 + "\n[7,2] " + "b" * 2100 + "\n[7,3] end\n"
put("catalogue", "long_ansi.txt", LONG)
put("catalogue", "long_utf16.txt", utf16(LONG))
put("catalogue", "system.txt", "[0,1] Batch started\n[0,2] Job %s finished\n[300,2] last\n")

# ---- language lists (fr.txt and en.txt lie beside the list) ----
put("language_list", "two.txt", "Fran\xe7" "ais=fr.txt\nEnglish=en.txt\n")
put("language_list", "rules.txt",
    "A=fr.txt\nB = en.txt\r\nC=en.txt\x01junk\nno equals sign\n\nD=E=f.txt\nG=fr.txt")

# ---- registry files of the Linux settings store ----
put("reg_file", "regedit4.reg",
    "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\T]\n\"Name\"=\"caf\xe9\"\n"
    "\"Path\"=hex(2):25,54,45,4d,50,25,5c,78,00\n\"Count\"=dword:00000041\n"
    "[HKLM\\SOFTWARE\\Quarrow Labs\\T\xe9st\\]\n\"LanGuage\"=\"fr\"\n@=\"default\"\n")
put("reg_file", "delete.reg",
    "REGEDIT4\n[HKEY_LOCAL_MACHINE\\S\\A]\n\"x\"=\"1\"\n\"y\"=\"2\"\n"
    "[HKEY_LOCAL_MACHINE\\S\\A 2]\n\"W\"=\"5\"\n\"v\"=-\n[-HKEY_LOCAL_MACHINE\\S\\A]\n"
    "; comment\n# comment\n\"multi\"=hex(7):61,00,62,00,00\n")
put("reg_file", "regedit5.reg", utf16(
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarrow Labs\\Torvane8 sample]\r\n"
    "@=\"default text\"\r\n\"Count\"=dword:00000041\r\n"
    "\"FILEUSERS\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,5c,00,62,00,61,00,74,00,\\\r\n"
    "  63,00,68,00,00,00\r\n\"LANGUAGE\"=\"Fran\xe7" "ais\"\r\n"
    "\"Quoted\"=\"say \\\"hi\\\" \\\\\\\\srv\\\\share\"\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarrow Labs\\Torvane8 sample\\Sub]\r\n\"Empty\"=\"\"\r\n"))
put("reg_file", "utf8.reg",
    "Windows Registry Editor Version 5.00\r\n[HKCU\\S]\r\n\"a\"=\"1\"\r\n\"b\"=\"caf\u00e9\"".encode("utf-8"))

# ---- shortcuts: the two written by Wine's shell-link component ----
for name in ("wine_notepad.lnk", "wine_unc.lnk"):
    folder = os.path.join(CORPUS, "shell_link")
    os.makedirs(folder, exist_ok=True)
    shutil.copyfile(os.path.join(ROOT, "messages", "testdata", name), os.path.join(folder, name))

# ---- environment references (variables set by the target) ----
put("expand_environment", "path.txt", "%B%\\users\\%USERNAME%.txt")
put("expand_environment", "nested.txt", "%A%;%SELF%;%TWICE%")
put("expand_environment", "unset.txt", "C:\\%NOT_SET_AT_ALL%\\x %B%")
put("expand_environment", "odd.txt", "100% %PCT%%EMPTY%%% %LONG%")

# ---- Windows command lines as the Linux launcher receives them ----
put("command_line", "job.txt",
    "\"C:\\Torvane 8\\TorvaneBatch.bat\" -b -u \"Jean Dupont\" -j \"Job 1\" -w")
put("command_line", "quotes.txt", "prog a\\\\\\\"b \"c\\\\\" \"\"\"x\"\"\" d\te")
put("command_line", "glued.txt", "\"prog\"glued next \"unterminated")
put("command_line", "bare.txt", "  C:\\dir\\prog.exe\targ \"\" ")


# ---- the queue file: read, then refreshed from a second file ----
QUEUE = ("nb = 2\nuser = anne\nname = C:\\gammes\\pi\xe8ce 1.gam\nstate = 0\nstatus = 0\n"
         "wait = 0\nuser = bob\nname = cube\nstate = 2\nstatus = 1\nwait = 1\n")
put("queue", "queue.txt", crlf(QUEUE) + crlf(QUEUE.replace("state = 0", "state = 2")))
put("queue", "short.txt", crlf("nb = 3\nuser = anne\nname = a\n") + crlf(QUEUE))
put("queue", "surplus.txt", crlf(QUEUE) + crlf(QUEUE.replace("nb = 2", "nb = 3") +
                                               "user = carl\nname = late\nstate = 0\n"))

# ---- batch project files: the job records the queue is rebuilt from ----
RECORD = ("[element gamme gamme de gamme]\nm_waitForPrec = {}\nmachine = tour\n"
          "nom = {}\n\n")
put("batch_project", "project.tvs",
    crlf("[[Projet batch]]\n\n" + RECORD.format(1, "first.gam") + RECORD.format(0, " spaced")))
put("batch_project", "cut.tvs", RECORD.format(1, "kept") + "[element gamme gamme de gamme]\n"
                                 "m_waitForPrec = 1\n")

# ---- users lists (keys from the system catalogue that the target loads) ----
def users_file(users, version="0.2", company=True):
    text = ("[[Liste utilisateurs]]\n\n\n\n\n[Version]\n\n\nVersion ft = 0.2\nVersion = "
            + version + "\n\n\n")
    if company:
        text += "\n\n[Societe]\n\nNom societe = Quarrow Labs\nVille societe = Lyon\n"
    for user in users:
        text += "\n\n\n\n[element utilisateur]\n\n" + "".join(
            "{} = {}\n".format(key, value) for key, value in user)
    return text


def user(name, *lines):
    return [("Nom utilisateur", name)] + list(lines)


# The current user's base folder is "home", relative: the target runs inside
# its scratch folder and lets the launcher create "home\BATCH" there.
ANNE = user("anne", ("Utilisateur courant", "1"), ("Code acces", "?>=<"),
            ("Mode base", "0"), ("Chemin base", "home"),
            ("Mode dossier 1", "1"), ("Chemin dossier 1", "x"),
            ("Mode dossier 5", "2"), ("Chemin dossier 5", ""),
            ("RT XML", "1"), ("RN XML", "home\\XML"),
            ("RT REP BATCH", "0"), ("RN REP BATCH", ""),
            ("RT TMP_COL", "3"), ("RN TMP_COL", "tmp\\\\col"))
BOB = user("bob", ("Mode base", "3"), ("Chemin base", "C:\\Torvane\\bob"),
           ("RT REP BATCH", "1"), ("RN REP BATCH", "ignored"),
           ("Mode dossier 14", "0"), ("Chemin dossier 14", "C:/Torvane//col"))
put("users_list", "two_users.txt", crlf(users_file([ANNE, BOB])))
put("users_list", "batch_folder.txt", users_file(
    [user("Jean Dupont", ("Utilisateur courant", "1"), ("RT REP BATCH", "0"),
          ("RN REP BATCH", "C:\\Batch\\jean"))]))
put("users_list", "public.txt", crlf(users_file(
    [user("public", ("Mode base", "1")), user("%NOT_SET%x", ("Mode dossier 17", "2")),
     user("public", ("RT REP BATCH", "2"))], company=False)))
put("users_list", "old_format.txt", users_file(
    [user("vieux", ("Code acces", "plain"), ("Utilisateur courant", "1"))], version="0.1")
    + "\n[element inconnu]\nA=B\n")
put("users_list", "empty.txt", users_file([]))

# ---- batch logs of one job ----
LOG_HEAD = crlf("[[Batch informations]]\n\n\n\n\n[Version]\n\n\nVersion ft = 0.2\nVersion = 0.1\n\n\n")
LOG_BODY = crlf(
    "\n\n[JOB INFORMATIONS]\n\nJob name = Gamme 12\nUser name = Ann\n"
    "IsGammeMachineComplexe = 1\nSimuOK = 1\nErrors = 3\nAlerts = -1\n"
    "\n\n\n[EVENTS]\n\nEvent list taille = 2\nEvent list 0 = Simulation started\n"
    "Event list 1 = Tool 4 missing<saut>replaced by tool 5\n"
    "\n\n[ALERTS]\n\nAlerts list taille = 1\nAlerts list 0 = Coolant low\n"
    "\n\n[ERRORS]\n\nMachine list taille = 2\n\n\n\n\n[Machine list 0:nouvelle_section]\n\n"
    "Machine errors taille = 0\n\n\n\n\n[Machine list 1:nouvelle_section]\n\n"
    "Machine errors taille = 2\n\n\n\n\n[Machine list 1:Machine errors 0:nouvelle_section]\n\n"
    "Channel errors taille = 1\nChannel errors 0 = Collision at N120\n\n\n\n\n"
    "[Machine list 1:Machine errors 1:nouvelle_section]\n\nChannel errors taille = 2\n"
    "Channel errors 0 = Axis X over travel\nChannel errors 1 = Spindle stalled\n")
put("batch_log", "full.log", LOG_HEAD + LOG_BODY)
put("batch_log", "job_only_lf.log",
    "[[Batch informations]]\n[Version]\nVersion ft = 0.2\nVersion = 0.1\n"
    "[job informations]\njob NAME = J7\nErrors = 5\nSimuOK = 2\n")
# Counts that promise more texts than follow, and lines out of order.
put("batch_log", "short_lists.log", LOG_HEAD + crlf(
    "[EVENTS]\nEvent list 3 = late\nEvent list taille = 4\nEvent list 0 = first\n"
    "[ERRORS]\nMachine list taille = 1\n[Machine list 0:nouvelle_section]\n"
    "Machine errors taille = 3\n"))
put("batch_log", "other_version.log", LOG_HEAD.replace("Version = 0.1", "Version = 0.3") + LOG_BODY)
