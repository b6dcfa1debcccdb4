import os, sys, base64
target = base64.b64decode('{}').decode('utf-8')
try:
    os.makedirs(target, exist_ok=True)
except Exception as e:
    sys.stderr.write(str(e))
    sys.exit(1)
