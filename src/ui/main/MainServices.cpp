#include "ui/main/MainServices.h"

#include "account/AuthManager.h"
#include "history/ConversationStore.h"
#include "overlay/SessionWindowModel.h"

namespace quiro {

MainServices MainServices::standard(SessionController& controller)
{
    MainServices services;
    services.controller = &controller;
    services.store = &ConversationStore::shared();
    services.auth = &AuthManager::shared();
    services.overlay = &SessionWindowModel::shared();
    return services;
}

} // namespace quiro
