#pragma once
// What the signing flow offers the other flows (the account flows): the retrieval of the signing certificate
// into the token, as a model and its screen. Everything else in this folder is the signing flow's own.
#include "Quorvane/signing/CertificateRetrievalMode.h"
#include "Quorvane/signing/CertificateRetrievalView.h"
#include "Quorvane/signing/CertificateRetrievalViewModel.h"
