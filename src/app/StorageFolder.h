#pragma once
// The storage folder a fresh start offers: the user's pictures folder (XDG PICTURES) when it
// exists, else the home folder; with a trailing "/", as a drive root had its separator.

#include <QString>

QString DefaultStorageFolder();
