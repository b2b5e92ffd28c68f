// The Dutch user-interface texts of Quillex, fetched by number at run time.
//
// The program loads this library by its bare name for every text it needs
// and falls back to the default written at the call site when the library or
// the text is missing, so a text may be changed here without rebuilding the
// program. An empty text counts as missing: every entry must have content.
//
// The same library exports the compacting entries (Compactor.cpp), thin
// wrappers over the engine's compactor linked into it.
//
// Texts are UTF-8. Characters outside ASCII are written as escapes so that
// the bytes do not depend on the compiler's idea of the source encoding.
//
// Placeholders: "%s" and "%i" are filled in order by the message formatter,
// "%n" becomes a line break. They only work in texts that go through the
// formatter; ArgumentsFor() below lists those and how many values each
// caller passes, and the build fails when a text does not match.
#include <cstddef>
#include <cstring>

#include "Export.h"

namespace {

constexpr const char* TextFor(int id) {
    switch (id) {
    // Main window: title (also the title of several message boxes), the
    // notice at the first activation and the caption of the open dialog.
    case 1: return "Vellumo Quillex";
    case 19:
        return "Vellumo Quillex controleert, repareert en onderhoudt Vellumo databases.%n%n"
               "Sluit alle Vellumo programma's af voordat u verdergaat en maak een back-up van de "
               "database en alle subdatabases: bij het repareren en reorganiseren worden gegevens "
               "in de database gewijzigd.";
    case 20: return "Vellumo database openen...";

    // Main window menus.
    case 2: return "&Opties";
    case 3: return "&Afsluiten";
    case 4: return "&Database";
    case 5: return "&Openen...";
    case 6: return "&Controleren";
    case 29: return "&Snel...";
    case 30: return "&Normaal...";
    case 31: return "&Intensief...";
    case 58: return "&Op lege mappen...";
    case 7: return "&Reorganiseren...";
    case 8: return "Do&cumenten";
    case 9: return "&Informatie over...";
    case 10: return "Geselecteerde, beschadigde items &verwijderen";
    case 124: return "Lijst &afdrukken...";
    case 125: return "Lijst &opslaan...";
    case 11: return "&Help";
    case 129: return "&Inhoud...";
    case 12: return "&Over Vellumo Quillex...";

    // Column headers of the sub database list and of the document list.
    case 13: return "Subdatabase";
    case 14: return "Grootte";
    case 15: return "Naam";
    case 16: return "Locatie";
    case 17: return "Subdatabase";
    case 18: return "Status";

    // Status bar panels.
    case 111: return "%s [%s MB, %s documenten en mappen]";
    case 112: return "database: --";
    case 113: return "beschadigd: %s";
    case 114: return "gerepareerd: %s";
    case 115: return "geselecteerd: %s";

    // Start-up: missing data access components, offer of the last database.
    case 122:
        return "Het gebruik van Vellumo Quillex vereist dat MDAC (Microsoft Data Access Components) "
               "is ge\xC3\xAF" "nstalleerd. MDAC is te downloaden vanaf de website van Microsoft.";
    case 123: return "Ontbrekende componenten...";
    case 128: return "Wilt u de laatst gebruikte Vellumo 8 database openen?";

    // Opening a database: refused generations and the fatal access error.
    case 70:
        return "Deze database is van een verouderde versie. Update uw Vellumo versie of neem "
               "contact op met Tarnwick voor meer informatie.";
    case 108: return "Versieconflict...";
    case 109:
        return "Deze database is van een ongeldig formaat of is in zijn geheel corrupt. Herstel "
               "deze database met een back-up of neem contact op met Tarnwick voor meer informatie.";
    case 110: return "Ongeldig formaat...";
    case 140:
        return "Er is een kritieke fout opgetreden tijdens het openen van de database.%n%n"
               "Zorg ervoor dat u voldoende toegangsrechten hebt in de map waar de database staat "
               "en dat alle Vellumo programma's zijn gesloten!";

    // Connecting to the main database and testing its OCR database.
    case 85:
        return "De database kon niet worden geopend. Controleer of het bestand bestaat en of u "
               "er toegang toe hebt.";
    case 86: return "Databasefout...";
    case 87: return "Er is een fout opgetreden bij het openen van de database:";
    case 118:
        return "Waarschuwing: De database met OCR data kon niet worden geopend!%n%n"
               "Herstel het bestand '%s' met een recente back-up om het probleem op te lossen.";
    case 119: return "OCR data corrupt...";
    case 120:
        return "Waarschuwing: De database met OCR data is niet gevonden!%n%n"
               "Herstel het bestand '%s' met een recente back-up om het probleem op te lossen.";
    case 121: return "OCR data niet gevonden...";

    // Removing documents from the list and the database.
    case 23: return "Gerepareerd document verwijderen?";
    case 24: return "Weet u zeker dat u het document '%s' wilt verwijderen?";
    case 25: return "Verwijderen?";
    case 102: return "Weet u zeker dat u alle geselecteerde (beschadigde) documenten wilt verwijderen?";
    case 116:
        return "Het document '%s' blijkt gerepareerd. Weet u zeker dat u dit document wilt "
               "verwijderen?";
    case 117:
        return "Dit document blijkt gerepareerd. Weet u zeker dat u dit document wilt verwijderen?";

    // Save-list dialog (the filter is description|pattern).
    case 106: return "Tekstbestanden (*.txt)|*.txt";
    case 107: return "Opslaan...";

    // Question before reorganizing.
    case 26:
        return "Bij het reorganiseren worden de documentgegevens verplaatst naar zo weinig "
               "mogelijk subdatabases en worden alle databestanden gecomprimeerd. Afhankelijk van "
               "de grootte van de database kan dit enkele minuten tot enkele uren duren.%n%n"
               "Maak eerst een back-up van de database en alle subdatabases.%n%n"
               "Wilt u de database nu reorganiseren?";
    case 27: return "Reorganiseren...";

    // State column of the document list.
    case 88: return "Beschadigd";
    case 89: return "Gerepareerd";
    case 90: return "Lege map";
    case 103: return "Niet gevonden";
    case 104: return "Gesplitst";
    case 136: return "Aangepast";

    // Progress window: caption, line formats, Cancel button. The document
    // and count lines are replaced by the link and folder checks below.
    case 61: return "Databasecontrole - voortgang";
    case 62: return "Huidig document: %s";
    case 63: return "Totale voortgang: (document %s/%s)";
    case 64: return "Geschatte resterende tijd: %s";
    case 65: return "Verstreken tijd: %s";
    case 66: return "Annuleren";

    // Progress lines of the quick (link) check. Text 100 is put in front of
    // the number of the data row, hence its trailing space.
    case 98: return "Huidige koppeling: %s";
    case 99: return "Totale voortgang: (koppeling %s/%s)";
    case 100: return "document ";

    // Progress lines of the empty folder check.
    case 96: return "Huidige map: %s";
    case 97: return "Totale voortgang: (map %s/%s)";

    // Large document check.
    case 127: return "De subdatabase '%s' is niet gevonden!";

    // Normal and thorough check: compaction beforehand, backup summary,
    // and the message when nothing was found.
    case 101: return "Er zijn geen fouten gevonden in deze database.";
    case 130:
        return "Voordat de databasecontrole kan worden gestart, dienen de volgende databestanden "
               "te worden gecomprimeerd:%n%n%s%nKlik op OK om door te gaan.";
    case 131: return "Bezig met comprimeren databestand %s / %s...";
    case 132:
        return "Tijdens het controleren is het opslagformaat van een aantal documenten "
               "bijgewerkt.%n%nBack-ups van de bijgewerkte documenten zijn opgeslagen in de "
               "bestanden:%n%n%s%nWij raden u aan van deze bestanden een goede back-up te maken "
               "en ze vervolgens te verwijderen.";
    case 133: return "Back-ups...";

    // Reorganizing: frame captions of the reorganize window and its messages.
    case 71: return "Bezig met comprimeren van subdatabase %s...";
    case 72: return "Bezig met comprimeren van de hoofddatabase...";
    case 91: return "Bezig met voorbereiden...";
    case 93: return "Bezig met verplaatsen van documenten...";
    case 74:
        return "Het bestand '%s' staat waarschijnlijk op een alleen-lezen medium en kan niet "
               "worden gewijzigd. De bewerking wordt afgebroken.";
    case 76:
        return "Er is onvoldoende vrije schijfruimte op '%s'. Voor het reorganiseren is ten "
               "minste 100 MB vrije ruimte nodig.";
    case 83: return "Onvoldoende schijfruimte...";
    case 77:
        return "Het pad van de subdatabase in de database ('%s') wijkt af van het verwachte pad "
               "('%s'). Het reorganiseren wordt afgebroken.";
    case 78: return "De subdatabase '%s' is niet gevonden. Het reorganiseren wordt afgebroken.";
    case 79: return "De subdatabase '%s' kon niet worden geopend. Het reorganiseren wordt afgebroken.";
    case 92: return "Fout bij openen subdatabase...";

    // Sub database list: missing files and a failed update.
    case 80:
        return "Een subdatabase van de database '%s' is niet gevonden, niet als '%s' en ook niet "
               "als '%s'.%n%nHerstel het bestand met een recente back-up.";
    case 81: return "Afwijkende locatie";
    case 82:
        return "Bij het bijwerken van de lijst met subdatabases is een fout opgetreden:%n%n%s (%s)";
    case 95:
        return "Het bestand van de hoofddatabase is niet gevonden. De lijst met subdatabases kan "
               "niet worden bijgewerkt.";

    // Renumbering the sub databases.
    case 73:
        return "De subdatabase '%s' is niet gevonden. De lijst met subdatabases is niet gewijzigd.";

    // Compacting data files and the compacting window.
    case 75:
        return "Er is onvoldoende vrije schijfruimte op '%s': er is nog %s extra nodig om het "
               "databestand '%s' te kunnen comprimeren.";
    case 137: return "Bezig met annuleren...";
    case 138: return "Databestanden comprimeren...";
    case 139: return "Dit proces kan enige tijd in beslag nemen.%nEen ogenblik geduld a.u.b....";

    // Reorganize window. Text 69 is shown as it stands, without line breaks.
    case 67: return "Database reorganiseren";
    case 68: return "Bezig met reorganiseren";
    case 69:
        return "Het reorganiseren kan, afhankelijk van de grootte van de database en de snelheid "
               "van de computer, enkele minuten tot enkele uren duren. Annuleren wordt sterk "
               "afgeraden. Zorg ervoor dat er een back-up van de database en alle subdatabases "
               "is gemaakt.";

    // Document information window: captions.
    case 32: return "Documentinformatie";
    case 33: return "Document";
    case 34: return "Toelichting";
    case 35: return "Naam:";
    case 36: return "Datum:";
    case 37: return "Trefwoorden:";
    case 38: return "Postcode:";

    // Document information window: explanation of each check result.
    case 39:
        // The result behind this text never carries a sub database name, so
        // it names none although the caller passes one.
        return "Dit document verwijst naar een subdatabase die niet in de lijst met subdatabases "
               "van deze database voorkomt. De gegevens van het document kunnen daardoor niet "
               "worden gevonden.";
    case 40:
        return "De subdatabase '%s' is niet gevonden, ook niet in de map van de hoofddatabase "
               "('%s'). Zet het bestand terug in deze map of herstel het met een recente back-up.";
    case 41:
        return "Het bestand van de hoofddatabase is niet gevonden, waardoor de subdatabase van "
               "dit document niet kon worden gekoppeld.";
    case 42:
        return "Bij het controleren van dit document is een databasefout opgetreden. Raadpleeg "
               "het logbestand voor meer informatie.";
    case 43:
        return "Dit document stond in een map die niet (meer) bestaat. Het document is verplaatst "
               "naar het hoogste niveau van de database.";
    case 44:
        return "De subdatabase '%s' kon niet worden geopend. Het bestand is mogelijk beschadigd, "
               "alleen-lezen of in gebruik door een ander programma.";
    case 45:
        return "Dit document was beschadigd. In een andere subdatabase is een onbeschadigde versie "
               "gevonden en het document is daaraan gekoppeld.";
    case 46: return "Dit document kon niet worden geladen. De opgeslagen gegevens zijn beschadigd.";
    case 47:
        return "Dit document was leeg. In een andere subdatabase zijn de gegevens van het document "
               "gevonden en het document is daaraan gekoppeld.";
    case 48:
        return "Dit document is leeg: er zijn geen gegevens voor opgeslagen en ook in de andere "
               "subdatabases zijn ze niet gevonden.";
    case 49:
        return "Voor deze opgeslagen gegevens bestond geen document. Er is een nieuw document voor "
               "aangemaakt op het hoogste niveau van de database, met de naam 'Fixed' gevolgd door "
               "het documentnummer.";
    case 50:
        return "De gegevens van dit document ontbraken in zijn subdatabase, maar zijn in een andere "
               "subdatabase gevonden. Het document is daaraan gekoppeld.";
    case 51:
        return "De gegevens van dit document ontbreken in zijn subdatabase en zijn ook in geen "
               "andere subdatabase gevonden.";
    case 52:
        return "Onder hetzelfde nummer waren twee verschillende documenten opgeslagen. Een van "
               "beide is als nieuw document opgenomen, met de naam 'Fixed' gevolgd door het nieuwe "
               "documentnummer.";
    case 59: return "Deze map is leeg: er staan geen documenten of submappen in.";
    case 60: return "Onbekende foutcode: %s.";
    case 105:
        return "Dit was een onbereikbare pagina van een multipage document. De pagina is omgezet "
               "naar een enkelvoudig document.";
    case 134:
        return "Dit document heeft een verouderd (niet meer ondersteund) opslagformaat. Er is een "
               "back-up gemaakt van het originele document en het opslagformaat is aangepast.";
    case 135:
        return "Dit document heeft een verouderd (niet meer ondersteund) opslagformaat. Neem "
               "contact op met Tarnwick voor meer informatie.";

    // About window.
    case 56: return "Over Vellumo Quillex";
    case 53: return "Vellumo Quillex versie %s.%s.%s";
    case 54: return "Controle, reparatie en onderhoud van Vellumo databases.";
    case 55: return "\xC2\xA9" " Tarnwick. Alle rechten voorbehouden.";
    case 126: return "https://www.tarnwick.nl";


    // Texts of our own, from 200 on: the archive lock and changes to several
    // files that must be finished or undone as a whole.
    case 200:
        return "De database '%s' is in gebruik door een ander Vellumo Quillex (%s). Sluit dat programma en "
               "probeer het opnieuw; er is niets gewijzigd.";
    case 201: return "Database in gebruik...";
    case 202:
        return "Een eerdere bewerking van de subdatabases van deze database is onderbroken. De bewerking is nu "
               "alsnog voltooid.";
    case 203:
        return "Een eerdere bewerking van de subdatabases van deze database is onderbroken voordat er iets was "
               "gewijzigd. De bewerking is ongedaan gemaakt.";
    case 204:
        return "Een eerdere bewerking van de subdatabases van deze database is onderbroken en kan niet worden "
               "afgerond:%n%n%s%n%nDe database wordt niet geopend. Er is niets verwijderd; neem contact op met "
               "Tarnwick.";
    case 205: return "Onderbroken bewerking...";
    case 206:
        return "De subdatabases zijn niet hernummerd: '%s' is geen gewoon bestand. Verplaats of hernoem dit item "
               "en open de database opnieuw. Er is niets gewijzigd.";
    case 207:
        return "De database '%s' is beschadigd. Vellumo Quillex wijzigt er niets aan; herstel de database met een "
               "recente back-up.";
    case 208:
        return "De subdatabases konden niet worden hernummerd:%n%n%s%n%nEr is niets gewijzigd.";
    case 209:
        return "Niet alle reparaties konden worden opgeslagen:%n%n%s%n%nDe reparaties sinds het laatste opslaan zijn "
               "ongedaan gemaakt. Zorg voor voldoende vrije schijfruimte en voer de controle opnieuw uit.";
    case 210: return "Opslaan mislukt...";
    case 211:
        return "De database '%s' is in gebruik door een ander programma en kon daarom niet worden geopend. Sluit "
               "alle Vellumo programma's en probeer het opnieuw. De database is niet beschadigd.";
    case 214: return "Database niet toegankelijk...";
    case 215:
        return "De database '%s' is beschadigd: het onderdeel %s ontbreekt. De database wordt niet geopend; herstel "
               "de database met een recente back-up.";
    case 216:
        return "Het logbestand '%s' is een bestand van de database (%s); er wordt niets in geschreven en de "
               "database wordt niet geopend.";
    case 217: return "Zou worden hersteld";
    case 218: return "Lijst onvolledig: de controle is afgebroken";
    case 219: return "Alleen rapporteren";
    case 220:
        return "Een proefrun van het reorganiseren houdt alle verplaatste gegevens in het geheugen; voor %s MB aan "
               "subdatabases is dat te veel. Er is niets gewijzigd.";
    case 212:
        return "U hebt geen leesrechten voor de database '%s'. Vraag uw beheerder om toegang. De database is niet "
               "beschadigd.";
    case 213:
        return "De database '%s' kon niet worden gelezen door een lees- of schijffout. Controleer de schijf of "
               "de netwerkverbinding en probeer het opnieuw.";

    // Help and opening documents with their associated program.
    case 230: return "De help kon niet worden weergegeven: de handleiding is niet gevonden.";
    case 231: return "Kan '%s' niet openen: er is geen programma voor ingesteld.";
    case 232: return "Kan '%s' niet starten: %s";

    // The reorganize preview.
    case 233: return "Voorbeeld van het reorganiseren (er wordt niets gewijzigd):";
    case 234: return "Het reorganiseren zou stoppen met de melding: %s";
    case 235: return "Eerst worden de subdatabases hernummerd: '%s' wordt '%s'.";
    case 236: return "'%s' wordt opzijgezet als '%s'.";
    case 237: return "'%s' is alleen-lezen; het reorganiseren heft dat eerst op.";
    case 238: return "%s documenten (%s) gaan van '%s' naar '%s'.";
    case 239: return "'%s' raakt leeg en wordt hernoemd naar '.obsolete'.";
    case 240: return "'%s': nu %s, daarna ongeveer %s.";
    case 241: return "%s dubbele documenten worden overschreven (zelfde inhoud of leeg).";
    case 242: return "%s dubbele documenten met andere inhoud krijgen een nieuw nummer (document 'Fixed').";
    case 243: return "%s lege documenten zonder verwijzing blijven staan waar ze staan.";
    case 244: return "%s documenten zonder verwijzing worden opgenomen als 'Repaired document'.";
    case 245: return "Er hoeven geen documenten te worden verplaatst.";
    case 246: return "In totaal %s documenten (%s).";
    // Files that are links or no regular files, and the large-document statistics.
    case 285:
        return "Het bestand '%s' is een koppeling of geen gewoon bestand. '%s' wordt daarom niet geopend om te "
               "wijzigen en de bewerking stopt. Zet het echte bestand op die plaats in de map van het archief en "
               "probeer het opnieuw.";
    case 286: return "Geen gewoon bestand...";
    case 287: return "%s pagina's geanalyseerd, gemiddelde grootte: %s bytes, groottegrens (200 KB) overschreden: %s keer.";
    case 288: return "Grote documenten";
    case 289:
        return "De subdatabase '%s' is een koppeling, geen gewoon bestand of leeg, en wordt niet gewijzigd. Het "
               "reorganiseren wordt afgebroken.";

    // A removal the core refused, and a reorganize that stopped.
    case 293: return "'%s' is een map, geen document. Mappen worden niet verwijderd.";
    case 294: return "'%s' kon niet worden verwijderd. In het logboek staat waarom.";
    case 295: return "Niet verwijderd...";
    case 296:
        return "Het reorganiseren is gestopt voordat het klaar was: %s. Wat al was verplaatst, blijft verplaatst; in "
               "het logboek staan de details.";
    case 297: return "Reorganiseren gestopt...";

    // The printed list, the delete question with its count, and the
    // window's command line.
    case 307: return "Lijst van beschadigde en gerepareerde documenten";
    case 308: return "Archief: %s";
    case 309: return "Controle: %s";
    case 310: return "Pagina %s van %s";
    case 311: return "Afgedrukt op: %s";
    case 312: return "geen";
    case 313: return "Code";
    case 314: return "regels: %s";
    case 315: return "Weet u zeker dat u de %s geselecteerde (beschadigde) documenten wilt verwijderen?";
    case 316: return "Vellumo Quillex: controleert, herstelt en onderhoudt een Vellumo archief.";
    case 317: return "Het archief (.dat) dat bij het starten wordt geopend.";
    case 318: return "Alleen rapporteren: er wordt niets gewijzigd, ook niet bij het openen.";
    case 319: return "Toont deze hulp en stopt.";
    case 320: return "Toont het versienummer en stopt.";
    case 321: return "%s (probeer 'quillex --help')";
    case 322: return "Onbekende optie: %s";
    case 323: return "Geef hoogstens \xC3\xA9\xC3\xA9" "n archief op.";
    case 324: return "onbekend";
    case 325: return "Haalt terug wat de beschadigde bestanden van een archief nog bevatten.%n%nHet archief wordt geopend zoals 'open' dat doet en elke pagina van zijn bestanden wordt gelezen. Van een subdatabase waarvan niet alle pagina's te lezen zijn, wordt elke rij die nog leest gekopieerd naar een nieuw bestand, gelijk bewezen aan wat gelezen is; de kopie neemt de plaats van het bestand in en het beschadigde bestand blijft ernaast bewaard als '.damaged'. Een beschadigde OCR-database wordt opzij gezet en leeg opnieuw gemaakt. Documenten waarvan de gegevens niet te lezen waren, houden hun record en worden met naam en map genoemd.%n%nExitcodes: 0 geen schade, 1 beschadigde bestanden geborgen zonder verlies, 4 documenten verloren, 8 niet geopend of een beschadigd bestand niet te bergen, 16 gebruiksfout; alleen rapporteren eindigt met de code die een echte run zou geven.";
    case 326: return "beschadigd bestand bewaard als '%s'";
    case 327: return "beschadigd bestand zou worden bewaard als '%s'";
    case 328: return "verloren: document %s";
    case 329: return "%s documenten verloren";
    // What an engine failure means for the user (its own words are shown as
    // details), and the one box that lists what opening an archive found.
    case 330: return "het voortgangsbestand van de controle";
    case 331:
        return "Het bestand '%s' is in gebruik door een ander programma. Sluit het andere programma "
               "(bijvoorbeeld Vellumo) en probeer het opnieuw; het bestand is niet beschadigd.";
    case 332:
        return "Het bestand '%s' kon niet worden geopend. Controleer of het bestaat en of u toegang hebt tot de "
               "map waarin het staat.";
    case 333:
        return "Het bestand '%s' bestaat niet (meer). Zet het terug uit een back-up, of kies met Database > "
               "Openen het juiste archief.";
    case 334:
        return "U hebt geen toegang tot het bestand '%s'. Vraag uw beheerder om lees- en schrijfrechten; het "
               "bestand is niet beschadigd.";
    case 335:
        return "Het bestand '%s' is geen Vellumo database, of het is zo beschadigd dat het niet meer als "
               "database herkend wordt. Kies het juiste bestand, of herstel het met een recente back-up.";
    case 336:
        return "Het bestand '%s' is beschadigd. Berg wat er nog in staat met Database > Bergen\xE2\x80\xA6 "
               "(quillex-cli salvage); herstel wat daarna nog ontbreekt met een recente back-up, of neem contact "
               "op met Tarnwick als er geen is.";
    case 337: return "De schijf waarop '%s' staat is vol. Maak ruimte vrij en probeer het opnieuw.";
    case 338:
        return "Het bestand '%s' kon niet worden gelezen of geschreven door een lees- of schijffout. Controleer "
               "de schijf of de netwerkverbinding en probeer het opnieuw.";
    case 339:
        return "Het bestand '%s' kan niet worden gewijzigd: het bestand, de map of de schijf is alleen-lezen. "
               "Open het archief met Alleen rapporteren, of zorg voor schrijfrechten.";
    case 340:
        return "Bij het bestand '%s' meldde de database een onverwachte fout. De melding zelf staat bij de "
               "details; neem contact op met Tarnwick als het probleem blijft.";
    case 341: return "het bestand, de map of de schijf kan niet worden beschreven";
    case 342: return "Meldingen bij het openen...";
    case 343: return "Bij het openen van '%s' is het volgende gevonden:";
    case 344: return "De reden staat hieronder bij de details.";

    // Information window: the finding's code beside its explanation.
    case 441: return "Foutcode: %s (%s)";
    // Information window: what the integrity pass found in a file.
    case 442:
        return "Een deel van het bestand '%s' kan niet worden gelezen: het bestand is beschadigd. De naam in "
               "de lijst zegt welke tabel of index. Zet het bestand terug uit een recente back-up.";
    case 443:
        return "Alleen een index van het bestand '%s' was beschadigd. Alle tabellen waren leesbaar en de "
               "index is daaruit opnieuw opgebouwd. U hoeft niets te doen.";
    case 444:
        return "Tabellen van het bestand '%s' waren beschadigd. Wat nog leesbaar was, is geborgen in een nieuw "
               "bestand; het beschadigde bestand staat ernaast als '.damaged'. Scan de documenten die als verloren "
               "of beschadigd in de lijst staan opnieuw in.";
    // Compaction: a file that a copy could not make smaller.
    case 445: return "%s: al compact, niet gekopieerd (%s)";
    case 446: return "%s: al compact, zou niet worden gekopieerd (%s)";
    case 447: return "Al compact en daarom overgeslagen: %s.";
    // Salvage of damaged files.
    case 481: return "Redden...";
    case 482: return "Gered %s";
    case 484: return "De OCR-database '%s' was beschadigd. Ze is apart gezet als '%s' en leeg opnieuw aangemaakt.%n%s";
    case 485: return "De OCR-gegevens moeten opnieuw worden opgebouwd met het scanprogramma.";
    case 486: return "Geborgen";
    case 487:
        return "In deze bestanden zijn tabellen beschadigd, niet alleen indexen:%n%n%s%nWilt u bergen wat ze nog "
               "bevatten? Elke rij die nog leesbaar is, wordt gekopieerd naar een nieuw bestand dat de plaats van het "
               "beschadigde inneemt; het beschadigde bestand blijft bewaard als '.damaged'. Documenten die niet meer "
               "leesbaar zijn, blijven als beschadigd in de lijst.";
    case 488:
        return "Alleen rapporteren: bergen zou uit deze beschadigde bestanden %s rijen terughalen; %s documenten "
               "zouden verloren zijn:%n%n%s%nEr is niets gewijzigd.";
    case 489: return "Bergen\xE2\x80\xA6";
    case 490: return "Bergen is klaar.%n%n%s";
    case 491: return "%s: %s rijen gelezen, %s geborgen, %s verloren";
    case 492: return "%s: onbeschadigd";
    case 493: return "%s: niet geborgen (%s)";
    case 494: return "%s documenten zijn verloren; ze staan in de lijst met hun naam.";
    case 495: return "Alleen rapporteren: dit zou bergen terughalen. Er is niets gewijzigd.%n%n%s";
    case 496: return "Verloren";

    // An unreferenced data row under a document's ID in another sub database.
    case 280: return "Dubbel nummer";
    case 281:
        return "In de subdatabase '%s' staan gegevens onder het nummer van dit document, terwijl het "
               "document naar een andere subdatabase verwijst. Het document houdt zijn eigen gegevens; "
               "bij het reorganiseren worden deze gegevens een apart document ('Fixed').";
    case 282: return "Tot slot worden de subdatabases hernummerd: '%s' wordt '%s'.";

    // Report-only runs and archives that cannot be written.
    case 270:
        return "De database '%s' kan niet worden gewijzigd: %s ('%s').%n%nKies Database > Alleen rapporteren "
               "(quillex-cli: --dry-run) om haar te openen en te controleren zonder iets te wijzigen.";
    case 271: return "u hebt geen schrijfrechten";
    case 272: return "het bestandssysteem is alleen-lezen";
    case 273: return "Database alleen-lezen...";
    case 274: return "zou worden gerepareerd: %s";
    case 275: return "Alleen rapporteren: er wordt niets gewijzigd";

    // Document list: findings of the integrity pass, which name the damaged
    // part of a file (the file itself is in the sub-database column).
    case 250: return "Bestand beschadigd";
    case 251: return "Index opnieuw opgebouwd";
    case 252: return "index %s van tabel %s";
    case 253: return "tabel %s";
    case 254: return "de opbouw van het bestand";

    // How a check ended, when it did not end by reading everything.
    case 260:
        return "De controle is afgebroken na %s van %s documenten. Alleen wat tot dan is gevonden staat in de lijst; "
               "de rest is niet gecontroleerd.";
    case 261: return "Controle afgebroken...";
    case 262:
        return "De database '%s' is in gebruik door een ander programma en is daarom niet gecontroleerd. Sluit alle "
               "Vellumo programma's en voer de controle opnieuw uit. De database is niet beschadigd.";
    // The integrity pass in the progress window: the file it reads.
    case 290: return "Databasebestand: %s";
    case 291: return "Totale voortgang: (bestand %s/%s)";
    case 263:
        return "De subdatabase '%s' is in gebruik door een ander programma; wat erin staat is niet gecontroleerd. "
               "Sluit alle Vellumo programma's en voer de controle opnieuw uit. De subdatabase is niet beschadigd.";
    case 264: return "Buiten de archiefmap";
    case 266:
        return "De subdatabase '%s' staat buiten de map van de database en wordt daarom niet hernummerd. De lijst "
               "met subdatabases is niet gewijzigd.";
    case 267:
        return "De subdatabase '%s' is in gebruik door een ander programma; de subdatabases zijn niet hernummerd. "
               "Sluit alle Vellumo programma's en probeer het opnieuw. De subdatabase is niet beschadigd.";
    case 265:
        return "De subdatabase '%s' staat buiten de map van de database. Ze wordt gelezen maar nooit gewijzigd; zet "
               "het bestand in de map van de database om het te laten controleren en herstellen.";

    // The check report as an HTML page (window and quillex-cli check --html).
    case 451: return "Controlerapport";
    case 452: return "Begonnen: %s";
    case 453: return "Klaar: %s";
    case 454: return "Uitkomst: %s";
    case 455: return "geen fouten gevonden";
    case 456: return "alles wat gevonden is, is gerepareerd";
    case 457: return "er blijft schade over";
    case 458: return "niet alles is gelezen: bestanden in gebruik door een ander programma";
    case 459: return "de schijf is vol: niet alle reparaties zijn opgeslagen";
    case 460: return "niet alles is gelezen of opgeslagen; in het logboek staat waarom";
    case 461: return "afgebroken na %s van %s documenten";
    case 462: return "Bevindingen per code";
    case 463: return "Bevindingen per map";
    case 464: return "Subdatabases tegen de capaciteit van %s";
    case 465: return "Lijst: %s regels";
    case 466: return "Zoeken";
    case 467:
        return "Alleen de eerste %s van %s regels staan hier; de hele lijst staat in de opgeslagen lijst en in de "
               "JSON (quillex-cli check --json).";
    case 468: return "Vergelijking met de controle van %s";
    case 469: return "Nieuw";
    case 470: return "Gerepareerd";
    case 471: return "Gebleven";
    case 472: return "Niet opnieuw gecontroleerd";
    case 473: return "Het vorige rapport hoort bij een ander archief: %s";
    case 474: return "overige mappen (%s)";
    case 475: return "het bestand hoort bij het archief";
    case 476: return "%s documenten";
    case 477: return "Meldingen";
    case 478: return "Rapport opslaan als &HTML...";
    case 479: return "HTML-bestanden (*.html)|*.html";
    case 480: return "Het rapport is niet opgeslagen in '%s': %s";
    // Progress, summaries and advice of the reorganize and compacting windows.
    case 351: return "Documenten: %s van %s";
    case 352: return "Verplaatst: %s van %s";
    case 353: return "Bestand %s van %s: %s";
    case 354: return "Gecomprimeerd: %s van %s";
    case 355:
        return "Het reorganiseren is klaar.%n%nVerplaatste documenten: %s%nOpzijgezette bestanden: %s "
               "(%s)%nArchiefbestanden: %s \xE2\x86\x92 %s (%s gewonnen)%n%nDe opzijgezette bestanden "
               "(.obsolete) kunnen na een back-up worden verwijderd.";
    case 356: return "Reorganiseren klaar...";
    case 357:
        return "Alleen rapporteren: er is niets gewijzigd.%n%nEen echte run zou %s documenten verplaatsen "
               "(%s) en %s bestanden opzijzetten. De archiefbestanden zouden van %s naar ongeveer %s gaan.";
    case 358: return "Gecomprimeerde bestanden: %s van %s.%nRuimte: %s \xE2\x86\x92 %s (%s gewonnen).";
    case 359: return "Comprimeren klaar...";
    case 360: return "Niet alle bestanden zijn gecomprimeerd: %s";
    case 361:
        return "Het reorganiseren is gestopt voordat het klaar was: %s%n%nWat al was verplaatst (%s "
               "documenten), blijft verplaatst en elk document leidt naar zijn gegevens. De lijst met "
               "resultaten is niet gewijzigd.";
    case 362: return "de schijf is vol.";
    case 363: return "Maak ten minste %s vrij op %s en probeer het opnieuw.";
    case 364: return "een ander programma gebruikt een bestand van het archief.";
    case 365: return "Sluit alle Vellumo programma's en probeer het opnieuw.";
    case 366: return "een bestand van het archief is beschadigd.";
    case 367:
        return "Voer de intensieve controle uit (Database > Controleren > Intensief) om het te onderzoeken "
               "en te herstellen, en probeer het daarna opnieuw.";
    case 368: return "er is een fout opgetreden (%s).";
    case 369: return "In het logboek staan de details. Los de oorzaak op en probeer het opnieuw.";
    case 370:
        return "Het reorganiseren is geannuleerd. Wat al was verplaatst (%s documenten), blijft verplaatst "
               "en elk document leidt naar zijn gegevens. Start het reorganiseren opnieuw om het af te "
               "maken. De lijst met resultaten is niet gewijzigd.";
    // quillex-cli: usage errors, help, the terminal's lines and the sample's summary.
    case 371: return "%s: %s (probeer '%s --help')";
    case 372: return "%s heeft een waarde nodig";
    case 373: return "%s mag maar \xC3\xA9\xC3\xA9n keer worden gegeven";
    case 374: return "Gebruik: %s [opties] %s";
    case 375: return "Opties:";
    case 376: return "Geen voortgang en geen meldingen: alleen de resultaatregels en fouten.";
    case 377: return "Het archief: de hoofddatabase (.dat).";
    case 378: return "Schrijft het logboek naar BESTAND in plaats van naast het archief.";
    case 379: return "Stemt in met elke vraag.";
    case 380: return "Weigert elke vraag; zonder terminal is dat het antwoord.";
    case 381: return "%s en %s sluiten elkaar uit";
    case 382: return "Geef \xC3\xA9\xC3\xA9n archief (.dat) op";
    case 383:
        return "Schrijft de uitkomst als JSON naar BESTAND (sleutels: docs/json.md); \"-\" schrijft naar de "
               "standaarduitvoer.";
    case 384: return "%s keer getoond";
    case 385: return "niet ingestemd (met --yes stemt u in)";
    case 386: return "afgebroken";
    case 387: return "documenten";
    case 388: return "koppelingen";
    case 389: return "mappen";
    case 390: return "bestanden";
    case 391: return "%s verstreken, nog %s";
    case 392: return "%s is een map, geen archief (.dat)";
    case 393: return "%s bestaat niet";
    case 394: return "%s is niet geopend";
    case 395:
        return "%s is niet geopend: het kan niet worden gewijzigd (%s: %s); met --dry-run wordt het gecontroleerd "
               "zonder iets te wijzigen";
    case 396:
        return "Opent een archief en brengt de subdatabases op orde.%n%nBepaalt de generatie van het archief, maakt "
               "verbinding, schrijft het logboek ernaast en brengt de lijst met subdatabases op orde (hernummeren, "
               "ongebruikte opzijzetten); daarna volgen de generatie, de subdatabases en de statusregel. Een "
               "bewerking die een eerdere run onafgemaakt liet, wordt eerst afgemaakt of teruggedraaid. Een archief "
               "is in maar \xC3\xA9\xC3\xA9n Quillex tegelijk open.%n%nExitcodes: 0 geopend, 4 geopend met problemen "
               "(subdatabases ontbreken, waarschuwingen), 8 niet geopend (ook: in gebruik) of een subdatabase in "
               "gebruik bij een ander programma, 16 gebruiksfout, 32 afgebroken.";
    case 397:
        return "Controleert een archief en repareert wat te repareren is.%n%nHet archief wordt geopend zoals 'open' "
               "dat doet; de lijst geeft per bevinding de status, een tab, het pad van de map en de naam.%n%n--quick: "
               "de koppelingen tussen opgeslagen gegevens en documenten. --normal: elk document, zijn gegevens, "
               "koppeling en map. --thorough: de normale controle, daarna elk beeld geladen, het opslagformaat "
               "hersteld (na een back-up) en de koppelingen; subdatabases boven 660 MB worden eerst aangeboden om te "
               "comprimeren. --empty-folders: lege mappen. --large-documents: de grootte van de opgeslagen "
               "documenten.%n%nEen BESTAND van het archief zelf wordt geweigerd voordat de controle "
               "begint.%n%nExitcodes: 0 niets gevonden, 1 alles gerepareerd, 4 er blijft schade, 8 niet geopend, in "
               "gebruik, schijf vol of reparaties niet opgeslagen, 16 gebruiksfout, 32 afgebroken.";
    case 398:
        return "Maakt pagina's zonder multipage document tot losse pagina's en nummert de pagina's opnieuw.%n%nHet "
               "archief wordt geopend zoals 'open' dat doet. Elke pagina waarvan het multipage document niet meer "
               "bestaat, wordt een losse pagina; de pagina's van elk multipage document worden 2, 3, ... genummerd "
               "in hun huidige volgorde. Daarna volgt hoeveel rijen er veranderden.%n%nExitcodes: 0 klaar, 8 niet "
               "geopend of de wijzigingen konden niet alle worden opgeslagen (wat is opgeslagen, wordt geteld; de "
               "rest is teruggedraaid), 16 gebruiksfout.";
    case 399:
        return "Comprimeert de databestanden van een archief.%n%nHet archief wordt geopend zoals 'open' dat doet. Elk "
               "bestand wordt gekopieerd naar een nieuw, compact bestand dat daarna zijn plaats inneemt; het oude "
               "verdwijnt pas als de kopie veilig op schijf staat. Een afgebroken run wordt bij het volgende openen "
               "afgemaakt of teruggedraaid. Zonder keuze worden alle bestanden gecomprimeerd.%n%nExitcodes: 0 alles "
               "gecomprimeerd, 8 niet geopend of een bestand kon niet worden gecomprimeerd (zie het logboek), 16 "
               "gebruiksfout, 32 afgebroken (Ctrl-C: het bestand dat bezig was wordt afgemaakt).";
    case 400:
        return "Verplaatst de opgeslagen gegevens naar zo weinig mogelijk subdatabases.%n%nHet archief wordt geopend "
               "zoals 'open' dat doet. De documenten gaan van de subdatabase met het hoogste nummer naar de laagste "
               "met ruimte (640 MiB elk), tot die twee elkaar raken. Lege subdatabases krijgen de naam '.obsolete'; "
               "aan het eind worden de databestanden gecomprimeerd. Een document is pas weg van zijn oude plaats als "
               "zijn kopie op schijf staat: een afgebroken run verliest niets en de volgende gaat "
               "verder.%n%nExitcodes: 0 gereorganiseerd, 8 niet geopend, geweigerd of gestopt door een fout (zie het "
               "logboek), 16 gebruiksfout, 32 niet bevestigd of afgebroken (Ctrl-C).";
    case 401:
        return "Verwijdert documenten, met hun gegevens en pagina's, uit een archief.%n%nZoals Documenten > "
               "Verwijderen in het venster: het document, zijn gegevens in zijn subdatabase en, voor een multipage "
               "document waarvan de gegevens weg zijn, zijn pagina's. Elke verwijdering komt in het logboek. Voor "
               "\xC3\xA9\xC3\xA9n ID wordt de vraag van het venster gesteld met de naam van het document, voor meer "
               "IDs \xC3\xA9\xC3\xA9n keer voor allemaal. Een nummer zonder document of van een map wordt genoemd en "
               "overgeslagen: mappen worden nooit verwijderd.%n%nExitcodes: 0 alles verwijderd, 4 niet alles kon "
               "worden verwijderd, 8 niet geopend, 16 gebruiksfout, 32 de vraag werd geweigerd.";
    case 402:
        return "Toont de naam, trefwoorden, datum, postcode en status van een document.%n%nWat Informatie over... in "
               "het venster toont: naam, trefwoorden, datum en postcode, en de toelichting bij een resultaatcode: de "
               "code van --code, anders de toestand van de koppeling met de subdatabase (0: gekoppeld, geen "
               "toelichting). In het archief wordt niets gewijzigd, maar het wordt geopend zoals 'open' dat doet. "
               "Voor een nummer zonder document of van een map wordt alleen dat gezegd.%n%nExitcodes: 0 getoond, 4 "
               "geen document met dat nummer, 8 niet geopend of uitvoer niet geschreven, 16 gebruiksfout.";
    case 403:
        return "Schrijft een voorbeeldarchief, op verzoek met fouten.%n%nIn MAP (gemaakt als die ontbreekt) komen de "
               "hoofddatabase NAAM.dat met een mappenboom en documenten, de subdatabases NAAM_1.pdb ... met echte "
               "beelden en PDF's, en de OCR-database NAAM.omd. Bestaande bestanden worden nooit overschreven. "
               "Hetzelfde startgetal geeft hetzelfde archief.%n%nExitcodes: 0 geschreven, 8 niet geschreven, 16 "
               "gebruiksfout.";
    case 404:
        return "OPDRACHT --help toont de hulp bij een opdracht.%nExitcodes: 0 in orde, 1 alles wat gevonden is, is "
               "gerepareerd, 4 er blijven problemen, 8 fout bij het uitvoeren (niet geopend, kan niet schrijven), 16 "
               "gebruiksfout, 32 afgebroken door de gebruiker.";
    case 405: return "Kies \xC3\xA9\xC3\xA9n soort controle: %s";
    case 406: return "Bewaart de lijst in BESTAND, zoals 'Lijst opslaan' in het venster.";
    case 407: return "Met --thorough: schrijft ook de opslagindicator van goede bestanden in het logboek.";
    case 408: return "Comprimeert elke subdatabase in de lijst.";
    case 409: return "Comprimeert de hoofddatabase.";
    case 410: return "Comprimeert de OCR-database.";
    case 411: return "Comprimeert alle bestanden (standaard).";
    case 412:
        return "Toont wat een run die nu begint zou doen (verplaatsingen, opzijgezette bestanden, grootten daarna); "
               "vraagt niets en wijzigt niets.";
    case 413: return "Geeft de uitkomst als JSON (sleutels: docs/json.md).";
    case 414: return "%s alleen samen met %s";
    case 415: return "Het nummer van een document, zoals de lijst en --json het geven.";
    case 416: return "Geef %s op";
    case 417: return "Geen geldig getal voor %s: %s";
    case 418: return "Licht resultaatcode N toe.";
    case 419: return "Onbekende opdracht: %s";
    case 420: return "Aantal subdatabases met documenten (standaard 3).";
    case 421:
        return "Voorbeeldarchief %s: %s documenten in %s mappen, %s subdatabases (%s), generatie %s.%nFouten: %s.";
    case 422:
        return "Controleer het:%n  quillex-cli check --normal %s%nof open het in het venster:%n  quillex %s";
    case 423: return "De map waarin het voorbeeldarchief komt.";
    case 424: return "Aantal documenten; een multipage document telt \xC3\xA9\xC3\xA9n keer (standaard 200).";
    case 425:
        return "Fouten, gescheiden door komma's, of 'all' of 'none' (standaard none); de namen staan hieronder.";
    case 426: return "Ongeveer zoveel bytes per document (standaard 4096).";
    case 427: return "Generatie van de database, 4 tot en met 8 (standaard 8).";
    case 428: return "Startgetal voor het toeval (standaard 1).";
    case 429: return "Naam van het archief (standaard Archief).";
    case 430: return "Aantal mappen in de boom (standaard 20).";
    case 431: return "Schrijft het rapport als \xC3\xA9\xC3\xA9n HTML-pagina in BESTAND: tellers, grafieken per code, per map en van de subdatabases, de lijst met zoeken.";
    case 432: return "Met --html: wat nieuw is, wat gerepareerd is en wat bleef sinds het rapport BESTAND (geschreven met --json).";
    case 433: return "--compare werkt alleen samen met --html";
    case 434: return "Aantal mappen in de boom (standaard 20, en bij meer dan 10.000 documenten \xC3\xA9\xC3\xA9n per 500 documenten).";
    case 435: return "Aantal subdatabases met documenten (standaard 3, of zoveel als nodig is om elk onder 640 MB te houden).";
    case 436: return "Ongeveer zoveel bytes per document, of KB of MB met K of M erachter (standaard 4096); het kleinste echte beeld of PDF-bestand is een paar honderd bytes.";

    // quillex-cli: result lines and their failures.
    case 511: return "archief";
    case 512: return "generatie";
    case 513: return "subdatabases:";
    case 514: return "(geen)";
    case 515: return "nummer";
    case 516: return "naam";
    case 517: return "trefwoorden";
    case 518: return "datum";
    case 519: return "postcode";
    case 520: return "subdatabase";
    case 521: return "code";
    case 522: return "toelichting";
    case 523: return "niets verwijderd";
    case 524: return "verwijderd";
    case 525: return "niet verwijderd (zie het logboek)";
    case 526: return "%s is een map, geen document; mappen worden niet verwijderd";
    case 527: return "geen document %s in %s";
    case 528: return "de documenten van %s konden niet worden gelezen";
    case 529: return "%s is een map in %s, geen document";
    case 530: return "%s: %s paginaregels gewijzigd (%s losse pagina's tot enkele pagina gemaakt, %s hernummerd).";
    case 531: return "zou hernoemen: %s -> %s";
    case 532: return "zou verwijderen: %s";
    case 533: return "alleen rapporteren: er is niets gewijzigd op schijf";
    case 534: return "%s %s: geweigerd, het hoort bij het archief: %s";
    case 535: return "%s %s: geweigerd, het hoort bij het archief";
    case 536: return "de controle is gestopt voordat er iets werd gelezen: %s";
    case 537: return "de reparaties konden niet allemaal worden opgeslagen: %s";
    case 538: return "%s kon niet worden geschreven";
    case 539: return "%s kon niet worden geschreven: %s";
    case 540: return "de JSON kon niet naar de standaarduitvoer worden geschreven";
    case 541: return "%s: de lijst met subdatabases kon niet worden gelezen";
    case 542: return "%s kon niet worden gecomprimeerd (zie het logboek)";
    case 543: return "%s kon niet opnieuw worden geopend";
    case 544: return "afgebroken na %s van %s bestanden";
    case 545: return "het archief kon niet tot het einde worden gelezen; geen plan";
    case 546: return "niet gereorganiseerd";
    case 547: return "afgebroken; de documenten die al zijn verplaatst, blijven verplaatst";
    case 548: return "gestopt: %s (zie het logboek)";
    case 549: return "niet gereorganiseerd (zie het logboek)";
    case 550: return "in gebruik bij een ander programma: %s";
    case 551: return "%s: de pagina's konden niet worden gelezen";
    case 552: return "%s: de pagina's konden niet worden teruggelezen";
    case 553: return "%s: de pagina's konden niet allemaal worden gewijzigd: %s";
    case 554: return "zou: %s";
    case 555: return "het is geen rapport van quillex-cli check --json";
    case 556: return "het rapport is niet volledig: %s";
    case 561: return "er is geen gestopte intensieve controle van dit archief; de controle begint bij het begin";
    case 562: return "de bewaarde voortgang wordt niet gebruikt (%s); de controle begint bij het begin";
    case 563: return "verder na %s van %s documenten";
    case 564: return "gestopt na %s van %s documenten (--max-duration %s); verder gaan met: %s";
    case 565: return "afgebroken na %s van %s documenten; verder gaan met: %s";
    case 566: return "--max-duration: '%s' is geen duur; gebruik bijvoorbeeld 90m, 2h of 45s";
    case 567: return "--resume en --max-duration werken alleen samen met --thorough";
    case 568: return "--resume werkt niet met --dry-run: een run die alleen rapporteert, bewaart geen voortgang";
    case 569: return "Met --thorough: gaat verder waar een gestopte intensieve controle bleef (afgebroken, --max-duration of een crash). Zonder bewaarde voortgang begint de controle bij het begin.";
    case 570: return "Met --thorough: stopt de controle netjes na DUUR (bijvoorbeeld 90m, 2h, 45s) en bewaart hoe ver ze kwam; verder gaan met --resume.";
    case 571: return "een run die alleen rapporteert, bewaart geen voortgang: de volgende controle begint bij het begin";
    case 572: return "de voortgang kon niet worden bewaard: %s";
    case 573: return "Er is een gestopte intensieve controle van dit archief: %s van %s documenten zijn gecontroleerd.%n%nKlik op Ja om verder te gaan waar die controle stopte, of op Nee om opnieuw te beginnen.";
    case 574: return "Verder gaan";
    case 575: return "De bewaarde voortgang van een gestopte controle wordt niet gebruikt: %s%n%nDe controle begint bij het begin.";
    case 576: return "De OCR-database '%s' is beschadigd. Ze zou apart worden gezet als '%s' en leeg opnieuw worden aangemaakt.%n%s";
    case 577: return "de hoofddatabase";
    case 578: return "de OCR-database";
    case 579: return "het logboek";
    case 580: return "het vergrendelingsbestand";
    case 581: return "het bestand van de lopende wijziging";
    case 582: return "het hulpbestand '%s' van %s";
    case 583: return "de subdatabasenaam %s";
    case 584: return "subdatabase %s";
    case 585: return "de kopie van een subdatabase %s";
    case 586: return "niets is uit te sluiten, de lijst met subdatabases kon niet worden gelezen (%s)";
    case 587: return "het archief kon niet verder worden gereorganiseerd; wat al was verplaatst, blijft verplaatst";
    default: return nullptr;
    }
}

// How many values the caller hands to the formatter with each text, or
// kShownAsIs for texts that are displayed without formatting (a placeholder
// or "%n" would show literally there).
constexpr int kShownAsIs = -1;

constexpr int ArgumentsFor(int id) {
    switch (id) {
    case 19: case 26: case 139: case 140:
    case 41: case 42: case 43: case 45: case 46: case 47: case 48:
    case 49: case 50: case 51: case 52: case 59: case 105:
        return 0;
    case 39:  // see the text: the value passed is always empty
        return 0;
    case 24: case 44: case 60: case 62: case 64: case 65: case 71: case 73: case 74:
    case 76: case 78: case 79: case 96: case 98: case 113: case 114: case 115:
    case 116: case 118: case 120: case 127: case 130: case 132:
        return 1;
    case 204: case 206: case 207: case 208: case 209: case 211: case 212: case 213: case 220: case 231:
        return 1;
    case 262: case 263: case 265: case 266: case 267: case 290:
        return 1;
    case 260: case 291: case 441: case 445: case 446:
        return 2;
    case 234: case 237: case 239: case 241: case 242: case 243: case 244: case 289: case 281: case 253:
        return 1;
    case 232: case 235: case 236: case 246: case 285: case 282: case 252:
        return 2;
    case 274: case 293: case 294: case 296: case 326: case 327: case 328: case 329: case 442: case 443: case 444:
    case 447:
        return 1;
    case 308: case 309: case 311: case 314: case 315: case 321: case 322:
        return 1;
    case 331: case 332: case 333: case 334: case 335: case 336: case 337: case 338: case 339: case 340:
    case 343:
        return 1;
    case 310:
        return 2;
    case 452: case 453: case 454: case 464: case 465: case 468: case 473: case 474: case 476:
        return 1;
    case 461: case 467: case 480:
        return 2;
    case 270:
        return 3;
    case 240: case 287:
        return 3;
    case 238:
        return 4;
    case 40: case 63: case 77: case 82: case 97: case 99: case 131: case 200: case 215: case 216:
        return 2;
    case 53: case 75: case 80: case 111:
        return 3;
    case 484: case 353: case 371: case 395: case 488: case 576:
        return 3;
    case 582:
        return 2;
    case 583: case 584: case 585: case 586:
        return 1;
    case 487: case 490: case 492: case 494: case 495:
        return 1;
    case 493:
        return 2;
    case 491:
        return 4;
    case 482: case 360: case 368: case 370: case 372: case 373: case 384: case 392: case 393: case 394: case 405: case 416: case 419:
        return 1;
    case 351: case 352: case 354: case 361: case 363: case 374: case 381: case 391: case 414: case 417: case 422:
        return 2;
    case 357: case 358:
        return 5;
    case 355:
        return 6;
    case 325: case 396: case 397: case 398: case 399: case 400: case 401: case 402: case 403: case 404:
        return 0;
    case 421:
        return 7;
    case 526: case 528: case 556: case 532: case 536: case 537: case 538: case 541: case 542: case 543: case 548: case 550: case 551: case 552: case 554:
        return 1;
    case 527: case 529: case 531: case 535: case 539: case 544: case 553:
        return 2;
    case 534: case 565:
        return 3;
    case 562: case 566: case 572: case 575:
        return 1;
    case 563: case 573:
        return 2;
    case 564:
        return 4;
    case 561: case 567: case 568: case 571:
        return 0;
    case 530:
        return 4;
    default:
        return kShownAsIs;
    }
}

// The program reads at most this many bytes of a text.
constexpr std::size_t kCallerBuffer = 1024;
constexpr int kHighestId = 590;

constexpr bool TextIsSound(int id) {
    const char* t = TextFor(id);
    if (t == nullptr) return true;
    if (*t == '\0') return false;  // would make the program show its default instead
    int fills = 0;
    bool breaks = false;
    std::size_t length = 0;
    for (; t[length] != '\0'; ++length) {
        if (t[length] != '%') continue;
        const char c = t[length + 1];
        // The formatter fills "%s" regardless of case and turns "%i" into "%s".
        if (c == 's' || c == 'S' || c == 'i') ++fills;
        if (c == 'n') breaks = true;
    }
    if (length >= kCallerBuffer) return false;
    const int args = ArgumentsFor(id);
    if (args == kShownAsIs) return fills == 0 && !breaks;
    return fills == args;
}

constexpr bool AllTextsSound() {
    for (int id = 0; id <= kHighestId + 1; ++id)
        if (!TextIsSound(id)) return false;
    return TextFor(0) == nullptr && TextFor(kHighestId + 1) == nullptr;
}

constexpr int TextCount() {
    int n = 0;
    for (int id = 1; id <= kHighestId; ++id)
        if (TextFor(id) != nullptr) ++n;
    return n;
}

constexpr bool EveryFormattedIdHasText() {
    for (int id = 1; id <= kHighestId; ++id)
        if (ArgumentsFor(id) != kShownAsIs && TextFor(id) == nullptr) return false;
    return true;
}

static_assert(AllTextsSound(), "a text is empty, too long, or its placeholders do not match its caller");
static_assert(EveryFormattedIdHasText(), "ArgumentsFor lists an id without a text");
// IDs 21, 22, 28, 57, 84 and 94 are not used by the program.
static_assert(TextCount() == 455, "a text was added or lost; update docs/strings.md as well");

}  // namespace

extern "C" QX_EXPORT int QuillexLoadString(int id, char* buffer, int bufferSize) {
    if (buffer == nullptr || bufferSize <= 0) return 0;
    buffer[0] = '\0';
    const char* text = TextFor(id);
    if (text == nullptr) return 0;

    std::size_t length = std::strlen(text);
    const std::size_t room = static_cast<std::size_t>(bufferSize) - 1;
    if (length > room) {
        length = room;
        // Cut before the character that does not fit whole, never inside it.
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
    }
    std::memcpy(buffer, text, length);
    buffer[length] = '\0';
    return static_cast<int>(length);
}
