<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<!-- English texts of the "Localizable" keys that are names rather than the English sentence itself. A key
     that is its own English text needs no entry: the lookup falls back to the key. -->
<TS version="2.1" language="en">
<context>
    <name>Localizable</name>
    <message>
        <source>accountCreationAuthentication</source>
        <translation>Log in to create your account</translation>
    </message>
    <message>
        <source>Subscriber agreement PIN dialog subtitle</source>
        <translation>Enter your PIN to sign the subscriber agreement</translation>
    </message>
    <message>
        <source>Means selection certificate creation</source>
        <translation>Get your signing certificate</translation>
    </message>
    <message>
        <source>accountCreationDisclaimerTermsStep</source>
        <translation>Read and accept the general terms and conditions of the Signing service to allow the use your personal data for creating a remote signing certificate.</translation>
    </message>
    <message>
        <source>docNameNotAvailable</source>
        <translation>Document name not available</translation>
    </message>
</context>
</TS>
