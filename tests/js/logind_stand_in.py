'''logind's stand-in for the Linux tests: python3-dbusmock's logind template,
with this user's sessions and the session lookups that the template lacks
(or, GetUser, gets wrong), all in place before the name serves its first
call.

Parameters: "sessions" (ids), "locked" (those whose LockedHint is true),
"by_pid" (the id that GetSessionByPID answers; without it the call fails, as
for a process in no session), "display" (the user's display session; with it
GetSession fails too).
'''
import os

import dbus
from dbusmock import mockobject
from dbusmock.templates import logind
from dbusmock.templates.logind import *  # noqa: F401,F403 (its names and methods)

SESSION_IFACE = 'org.freedesktop.login1.Session'


def session_path(session_id):
    return f'/org/freedesktop/login1/session/{session_id}'


def no_session(*_):
    raise dbus.exceptions.DBusException('no session', name='org.freedesktop.login1.NoSuchSession')


def load(mock, parameters):
    logind.load(mock, parameters)
    uid = os.getuid()
    for session_id in parameters.get('sessions', []):
        mock.AddSession(session_id, 'seat0', uid, 'user', True)
    for session_id in parameters.get('locked', []):
        mockobject.objects[session_path(session_id)].props[SESSION_IFACE]['LockedHint'] = True
    by_pid = parameters.get('by_pid')
    mock.AddMethod(MAIN_IFACE, 'GetSessionByPID', 'u', 'o',
                   (lambda *_: dbus.ObjectPath(session_path(by_pid))) if by_pid else no_session)
    mock.AddMethod(MAIN_IFACE, 'GetUser', 'u', 'o',
                   lambda _, user: dbus.ObjectPath(f'/org/freedesktop/login1/user/{user}'))
    display = parameters.get('display')
    if display:
        mock.AddMethod(MAIN_IFACE, 'GetSession', 's', 'o', no_session)
        user = mockobject.objects[f'/org/freedesktop/login1/user/{uid}']
        user.props['org.freedesktop.login1.User']['Display'] = dbus.Struct(
            (display, dbus.ObjectPath(session_path(display))), signature='so')
