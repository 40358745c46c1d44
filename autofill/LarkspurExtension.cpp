// The credential-provider plugin: its root object hands out one controller
// per request.
#include "autofill/MacCredentialProviderViewController.h"
#include "core/CredentialIdentitySync.h"
#include "platform/extension/CredentialProviderExtension.h"

#include <QObject>

class LarkspurExtension : public QObject, public CredentialProviderExtension {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID CredentialProviderExtension_iid)
    Q_INTERFACES(CredentialProviderExtension)

public:
    std::unique_ptr<CredentialProvider::ViewController>
    makeViewController(CredentialProvider::ExtensionContext& context) override {
        CredentialIdentitySync::rebuildFromKeychain(CredentialIdentityStore::shared());
        return std::make_unique<MacCredentialProviderViewController>(context);
    }
};

#include "LarkspurExtension.moc"
