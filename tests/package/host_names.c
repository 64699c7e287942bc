/* Names that the library uses inside itself, defined again by the host: a
   host may use any name but the 18 exports, with the static library too.
   Every value must survive the messages. */
int errorNumber = 11;
int systemError = 12;
int outputContext = 13;
int protocolFile = 14;
int messageFilter = 15;
int debugChannel = 16;
const char digitTable[] = "host";
const char foldTable[] = "host";
int germanTimeNames = 17;
int platformChannelDevices = 18;
int posixModuleLoaderLinked = 19;
const char trovexVersionString[] = "host";

int DllMain(void) { return 20; }
void* CreateFileA(const char* name) { return (void*)name; }

int hostNamesIntact(void) {
  static const char name[] = "x";
  return errorNumber == 11 && systemError == 12 && outputContext == 13 && protocolFile == 14 &&
         messageFilter == 15 && debugChannel == 16 && digitTable[0] == 'h' && foldTable[0] == 'h' &&
         germanTimeNames == 17 && platformChannelDevices == 18 && posixModuleLoaderLinked == 19 &&
         trovexVersionString[0] == 'h' && DllMain() == 20 && CreateFileA(name) == name;
}
