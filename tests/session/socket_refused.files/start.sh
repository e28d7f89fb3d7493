# Starts the peer in the background and waits (at most 10 s) until it has
# written its ports into port.imp.
python3 peer.py > peer.log 2>&1 &
i=0
while [ ! -s port.imp ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i + 1)); done
