<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE" sourcelanguage="en_US">
<context>
    <name>tavik::VendorComment</name>
    <message>
        <source>Comment:</source>
        <translation>Kommentar:</translation>
    </message>
    <message>
        <source>Location</source>
        <translation>Ort</translation>
    </message>
    <message>
        <source>Type</source>
        <translation>Art</translation>
    </message>
    <message>
        <source>Effective Date</source>
        <translation>Gültig ab</translation>
    </message>
    <message>
        <source>Expires Date</source>
        <translation>Gültig bis</translation>
    </message>
    <message>
        <source>Effective Date value</source>
        <translation>Datum „Gültig ab“</translation>
    </message>
    <message>
        <source>Expires Date value</source>
        <translation>Datum „Gültig bis“</translation>
    </message>
    <message>
        <source>New Comment</source>
        <translation>Neuer Kommentar</translation>
    </message>
    <message>
        <source>Edit</source>
        <translation>Bearbeiten</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Löschen</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Speichern</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Comment</source>
        <translation>Kommentar</translation>
    </message>
    <message>
        <source>Please enter Vendor comments</source>
        <translation>Bitte geben Sie einen Kommentar zum Lieferanten ein.</translation>
    </message>
    <message>
        <source>Information Validation</source>
        <translation>Eingabeprüfung</translation>
    </message>
    <message>
        <source>Expires Date should be greater than Effective Date</source>
        <translation>„Gültig bis“ muss nach „Gültig ab“ liegen.</translation>
    </message>
    <message>
        <source>The Effective Date Required</source>
        <translation>„Gültig ab“ fehlt.</translation>
    </message>
    <message>
        <source>Vendor Comments</source>
        <translation>Lieferantenkommentare</translation>
    </message>
    <message>
        <source>Vendor location is required</source>
        <translation>Der Ort fehlt.</translation>
    </message>
    <message>
        <source>Vendor type is required</source>
        <translation>Die Art fehlt.</translation>
    </message>
    <message>
        <source>Do you want to delete the selected comment</source>
        <translation>Möchten Sie den ausgewählten Kommentar löschen?</translation>
    </message>
    <message>
        <source> Error !  </source>
        <translation> Fehler!  </translation>
    </message>
    <message>
        <source>ERROR</source>
        <translation>FEHLER</translation>
    </message>
    <message>
        <source>Vendor  Comment - ERROR</source>
        <translation>Lieferantenkommentar – FEHLER</translation>
    </message>
    <message>
        <source>Comments</source>
        <translation>Kommentare</translation>
    </message>
    <message>
        <source>The vendor&apos;s comments; the selected one is shown below</source>
        <translation>Die Kommentare zum Lieferanten; der ausgewählte steht darunter</translation>
    </message>
    <message>
        <source>The text of the comment</source>
        <translation>Der Text des Kommentars</translation>
    </message>
    <message>
        <source>Where the comment applies</source>
        <translation>Wo der Kommentar gilt</translation>
    </message>
    <message>
        <source>The kind of comment</source>
        <translation>Die Art des Kommentars</translation>
    </message>
    <message>
        <source>Whether the comment has a date from which it applies</source>
        <translation>Ob der Kommentar ab einem Datum gilt</translation>
    </message>
    <message>
        <source>The date from which the comment applies</source>
        <translation>Das Datum, ab dem der Kommentar gilt</translation>
    </message>
    <message>
        <source>Whether the comment has a date on which it ends</source>
        <translation>Ob der Kommentar an einem Datum endet</translation>
    </message>
    <message>
        <source>The date on which the comment ends</source>
        <translation>Das Datum, an dem der Kommentar endet</translation>
    </message>
</context>
</TS>
